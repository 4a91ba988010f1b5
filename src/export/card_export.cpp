// The card export: builds the connection text and the insert statement and
// hands them to the Jet4 writer; see card_export.h.
#include "export/card_export.h"

#include "export/jet4/jet4_file.h"
#include "store/shop_context.h"

namespace autodeliver {

namespace {

std::string DoubleQuotes(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

}  // namespace

std::string CardExportConnectionText(const std::string& filePath) {
  std::string::size_type slash = filePath.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : filePath.substr(0, slash);
  return "ODBC;DBQ=" + filePath + ";DefaultDir=" + dir +
         ";Driver={Microsoft Access Driver (*.mdb)};FIL=MS Access;";
}

std::string CardExportStatement(const std::string& orderNumber, const std::string& cardNumber,
                                const std::string& cardPassword) {
  return "insert into biao ([dingdan],[kahao],[mima]) values ('" + DoubleQuotes(orderNumber) + "','" +
         DoubleQuotes(cardNumber) + "','" + DoubleQuotes(cardPassword) + "')";
}

Status ExportCardToAccessAt(const std::string& programDir, const std::string& orderNumber,
                            const std::string& cardNumber, const std::string& cardPassword) {
  std::string path = programDir + "/card.mdb";
  return ExecuteJet4Insert(CardExportConnectionText(path),
                           CardExportStatement(orderNumber, cardNumber, cardPassword));
}

Status ExportCardToAccess(const ShopContext& shop, const std::string& orderNumber,
                          const std::string& cardNumber, const std::string& cardPassword) {
  return ExportCardToAccessAt(shop.ProgramDir(), orderNumber, cardNumber, cardPassword);
}

Status ExportCardsToAccessAt(const std::string& programDir, const std::vector<CardExportRow>& rows,
                             const std::function<Status(std::uint32_t)>& before) {
  std::vector<std::vector<std::string>> values;
  values.reserve(rows.size());
  for (const CardExportRow& r : rows) values.push_back({r.orderNumber, r.cardNumber, r.cardPassword});
  return AppendTextRows(programDir + "/card.mdb", "biao", {"dingdan", "kahao", "mima"}, values, nullptr,
                        before);
}

Status ExportCardsToAccess(const ShopContext& shop, const std::vector<CardExportRow>& rows,
                           const std::function<Status(std::uint32_t)>& before) {
  return ExportCardsToAccessAt(shop.ProgramDir(), rows, before);
}

std::optional<std::uint32_t> CardExportRowCountAt(const std::string& programDir) {
  return Jet4RowCount(programDir + "/card.mdb", "biao");
}

std::optional<std::uint32_t> CardExportRowCount(const ShopContext& shop) {
  return CardExportRowCountAt(shop.ProgramDir());
}

std::optional<bool> CardRowExportedAt(const std::string& programDir, const std::string& orderNumber,
                                      const std::string& cardNumber, const std::string& cardPassword,
                                      std::uint32_t fromRow) {
  return HasJet4TextRow(programDir + "/card.mdb", "biao", {"dingdan", "kahao", "mima"},
                        {orderNumber, cardNumber, cardPassword}, fromRow);
}

std::optional<bool> CardRowExported(const ShopContext& shop, const std::string& orderNumber,
                                    const std::string& cardNumber, const std::string& cardPassword,
                                    std::uint32_t fromRow) {
  return CardRowExportedAt(shop.ProgramDir(), orderNumber, cardNumber, cardPassword, fromRow);
}

bool SettleCardExportAt(const std::string& programDir) { return SettleJet4File(programDir + "/card.mdb"); }

bool SettleCardExport(const ShopContext& shop) { return SettleCardExportAt(shop.ProgramDir()); }

}  // namespace autodeliver
