// Writes the seed corpora of the fuzz targets into the folder given
// (normally <source>/fuzz/corpus): table files and card.mdb files made by
// the program's own writers, order pages in the marketplace's markup, and
// small texts for the other targets. Run by hand; its output is kept in the
// repository.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "../tests/market/order_page_fixture.h"
#include "export/jet4/jet4_file.h"
#include "fuzz_targets.h"
#include "store/item_table.h"
#include "store/sent_table.h"
#include "store/shop_paths.h"
#include "store/stock_table.h"
#include "store/table_schema.h"
#include "text/gbk.h"

namespace autodeliver::fuzz {
namespace {

std::filesystem::path g_out;

void Seed(const std::string& target, const std::string& name, const std::string& bytes) {
  std::filesystem::create_directories(g_out / target);
  WriteFile((g_out / target / name).string(), bytes);
}

std::string LengthPrefixed(const std::string& first, const std::string& second, int lengthBytes) {
  std::string out;
  for (int i = 0; i < lengthBytes; ++i) out += static_cast<char>((first.size() >> (8 * i)) & 0xFF);
  return out + first + second;
}

// A table file and its companion as the table target reads them.
std::string TableSeed(const std::string& tablePath) {
  return LengthPrefixed(ReadFile(tablePath), ReadFile(CompanionFilePath(tablePath)), 4);
}

void TableSeeds() {
  const std::string dir = ScratchDir() + "/tables";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  CreateDataTables(dir);
  ShopContext shop(dir);
  Seed("table_file", "stock_empty", TableSeed(shop.StockTablePath()));
  Seed("table_file", "settings", TableSeed(shop.SettingsTablePath()));
  AppendItem(shop, {"游戏点卡"_gbk, "备注"_gbk, 2, true});
  AppendItem(shop, {"Q币卡"_gbk, "", 0, false});
  Seed("table_file", "items_two", TableSeed(shop.ItemsTablePath()));
  AppendStockCard(shop, {"游戏点卡"_gbk, "C0001", "P0001", 0});
  AppendStockCard(shop, {"游戏点卡"_gbk, std::string(700, 'L'), "long number across companion blocks", 0});
  AppendStockCard(shop, {"Q币卡"_gbk, "http://127.0.0.1:1/card", "0", 0});
  Seed("table_file", "stock_three", TableSeed(shop.StockTablePath()));
  MarkStockCardAt(shop, 2);
  Seed("table_file", "stock_one_marked", TableSeed(shop.StockTablePath()));
  PurgeStock(shop);
  Seed("table_file", "stock_purged", TableSeed(shop.StockTablePath()));
  AppendSentCard(
      shop, {"游戏点卡"_gbk, "20121120001", "买家甲"_gbk, 1, "C0001", "P0001", "", "2012-11-20 09:05:00"});
  Seed("table_file", "sent_one", TableSeed(shop.SentTablePath()));
}

void OrderPageSeeds() {
  using testing::HostileKind;
  using testing::RenderOrderBlock;
  using testing::RenderOrderPage;
  using testing::SomeOrders;
  Seed("order_page", "no_orders.html", RenderOrderPage({}));
  Seed("order_page", "one_order.html", RenderOrderPage(SomeOrders(1)));
  Seed("order_page", "three_orders.html", RenderOrderPage(SomeOrders(3)));
  Seed("order_page", "odd_fields.html",
       RenderOrderPage({{"1001", "Line one\r\nline two &amp; more", "１２"_gbk, "nick%20x&lt;", ""},
                        {"1002", "A&Mdash;B", "件"_gbk, "buyer c", "9"}}));
  Seed("order_page", "login_page.html", "<html><body>" + "请登录"_gbk + "</body></html>");
  Seed("order_page", "unclosed_quantity.html",
       RenderOrderPage(SomeOrders(2), testing::HostileMarkup(HostileKind::kUnclosedQuantity, 2000)));
  Seed("order_page", "nick_openers.html",
       RenderOrderPage(SomeOrders(1), testing::HostileMarkup(HostileKind::kNickOpeners, 2000)));
  Seed("order_page", "title_openers.html",
       RenderOrderPage(SomeOrders(1), testing::HostileMarkup(HostileKind::kTitleOpeners, 1000)));
  std::string unpaired = RenderOrderBlock(SomeOrders(2)[1]);
  unpaired.replace(unpaired.find("&order_id="), 10, "&order=");
  Seed("order_page", "unpaired.html", RenderOrderPage(SomeOrders(1), unpaired));
  Seed("order_page", "nul_inside.html",
       RenderOrderPage(SomeOrders(1)) + std::string(1, '\0') + "order_id=1&");
}

void ServiceSeeds() {
  Seed("service_answer", "no_notice", "[check]no_msg[check][msg][msg]");
  Seed("service_answer", "notice", "[check]1[check][msg]第一行\\n第二行[msg]");
  Seed("service_answer", "update", "[msg][update]<br />ver=1.0.0.1008<br />gx=修复了\\n两个问题<br />[msg]");
  Seed("service_answer", "same_version", "[msg][update]<br />ver=1.0.0.1007<br />[msg]");
  Seed("service_answer", "bom", "\xEF\xBB\xBF[check]no_msg[check]");
  Seed("service_answer", "bad_utf8", "[check]\xC3[check][msg]\xFF[msg]");
}

void IniSeeds() {
  Seed("ini_file", "update", "update\nver\n[update]\r\nver=1.0.0.1008\r\ngx=a\\nb\r\n");
  Seed("ini_file", "blanks_quotes",
       "Update\n VER \n ; comment\n[ update ]\n ver = \"1.0\" \n[other]\nver=2\n");
  Seed("ini_file", "no_section", "update\nver\nver=1\n[update\nver=2\n");
  Seed("ini_file", "long_value", "s\nk\n[s]\nk=" + std::string(12000, 'v') + "\n");
}

void CardImportSeeds() {
  Seed("card_import", "two_cards", "A1 P1\r\nA2 P2 x\r\n");
  Seed("card_import", "no_space_line", "A1\r\nA2 P2\r\nA3 P3\r\n");
  Seed("card_import", "mixed_line_ends", "卡号1 密码1\n卡号2 密码2\r卡号3 0\r\n  \r\n\xA1\xA1\n last");
  Seed("card_import", "leading_space", " P1\r\nA2 P2");
}

void CardMdbSeeds() {
  const std::string path = ScratchDir() + "/seed.mdb";
  const std::string sql = "insert into biao ([dingdan],[kahao],[mima]) values ('20121120001','C1','P''1')";
  CreateCardDatabase(path);
  const std::string empty = ReadFile(path);
  Seed("card_mdb", "empty_with_insert", LengthPrefixed(sql, empty, 2));
  Seed("card_mdb", "empty_bad_sql", LengthPrefixed("insert into biao (a) values ('1','2')", empty, 2));
  AppendTextRow(path, "biao", {"dingdan", "kahao", "mima"}, {"1", "卡号"_gbk, "p"});
  AppendTextRow(path, "biao", {"dingdan", "kahao", "mima"}, {"2", std::string(200, 'k'), "p"});
  Seed("card_mdb", "two_rows_with_insert", LengthPrefixed(sql, ReadFile(path), 2));
  Seed("card_mdb", "not_a_database", LengthPrefixed(sql, "Standard Jet DB\0 but nothing more", 2));
}

void HttpSeeds() {
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhello";
  Seed("http_answer", "ok_get", std::string(1, '\0') + ok);
  Seed("http_answer", "ok_post_cookie", std::string(1, '\3') + ok);
  Seed("http_answer", "chunked",
       std::string(1, '\0') +
           "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n");
  Seed("http_answer", "redirect_with_cookies",
       std::string(1, '\0') +
           "HTTP/1.1 302 Found\r\nLocation: /user/home?x=1\r\nSet-Cookie: sid=abc; Path=/; Max-Age=60\r\n"
           "Set-Cookie: d=1; Domain=fuzz.example\r\nContent-Length: 0\r\n\r\n\n--next--\n" +
           ok);
  Seed("http_answer", "redirect_elsewhere",
       std::string(1, '\1') +
           "HTTP/1.1 307 Temporary Redirect\r\nLocation: http://other.fuzz.example:81/p\r\n\r\n" +
           "\n--next--\n" + ok);
  Seed("http_answer", "over_limit",
       std::string(1, '\0') + "HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + std::string(5000, 'b'));
  Seed("http_answer", "unframed", std::string(1, '\0') + "HTTP/1.1 200 OK\r\n\r\n" + std::string(4097, 'u'));
  Seed("http_answer", "continue_then_ok", std::string(1, '\1') + "HTTP/1.1 100 Continue\r\n\r\n" + ok);
}

}  // namespace
}  // namespace autodeliver::fuzz

int main(int argc, char** argv) {
  using namespace autodeliver::fuzz;
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seed_maker <corpus folder>\n");
    return 2;
  }
  g_out = argv[1];
  TableSeeds();
  OrderPageSeeds();
  ServiceSeeds();
  IniSeeds();
  CardImportSeeds();
  CardMdbSeeds();
  HttpSeeds();
  return 0;
}
