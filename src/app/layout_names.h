// The layout names of the main window's controls: each control's
// objectName, by which tests and the demo driver find it. The names live
// here and nowhere else in the program.
//
//   图片框1 banner
//   高级选择夹1 page control
//     page 0: 标签2 notice, 外形框6/标签3 name label, 外形框5/编辑框1 name box,
//             外形框4/超级按钮1 add, 外形框2 with 超级列表框1 items list and
//             自动发货时钟 delivery timer, 外形框7/超级按钮2 rename,
//             外形框8/超级按钮3 delete, 标签1 welcome line,
//             外形框3 attributes box (外形框9/标签6 header, 标签5, 宝贝备注,
//             限拍数量, 选择框1, 标签12/库存预警线 warning level),
//             外形框10 auto-delivery box (外形框11/标签4 header, 标签7,
//             编辑框2, 选择框2, 分组框1 with 标签8,
//             外形框12/超级按钮4 apply), 图片框2 browser holder with
//             互联网浏览器1 login browser (and 重新登录浏览器, a new login
//             browser when the login expired)
//     page 1: the search bar (已发搜索框 search box, 只看未送达, 已发条数
//             count, 补发未送达框/补发全部未送达 resend of every
//             undelivered order, 重新发送框/重新发送 resend,
//             导出已发框/导出已发 export),
//             外形框1 with 高级表格1 sent-cards grid, 已发提示 note line
//     page 2: 标签9, 组合框1 item chooser, 外形框17 import box (外形框19/标签11
//             header, 编辑框3, 外形框22/超级按钮10 import from a file,
//             外形框21/超级按钮8 import), 外形框13 stock box
//             (外形框20/标签10 header, 超级列表框2 stock list,
//             外形框18/超级按钮9 delete stock, 外形框15/超级按钮6,
//             外形框16/超级按钮7, 导出库存 stock export)
//     page 3: 发货统计页 the deliveries plot (标签统计宝贝, 统计宝贝 item
//             chooser, 统计合计 sums, 发货统计框 with 发货统计图 chart)
//     page 4 (the log page, beyond the design layout): 标签日志筛选,
//             编辑框日志筛选 filter box, 标签日志条数 count, 按钮通知设置,
//             外形框日志 with 表格运行日志 log view
//   外形框状态栏 status line under the page control: 标签状态栏 text,
//             按钮重新登录
//
// Names are UTF-8; QString::fromUtf8 makes an objectName of one.
//
// Thread safety: constants.
#pragma once

namespace autodeliver::layout {

// Top level.
inline constexpr char kBanner[] = "图片框1";
inline constexpr char kPageControl[] = "高级选择夹1";

// Page 0: the monitored items.
inline constexpr char kNoticeLabel[] = "标签2";
inline constexpr char kNameLabelFrame[] = "外形框6";
inline constexpr char kNameLabel[] = "标签3";
inline constexpr char kNameBoxFrame[] = "外形框5";
inline constexpr char kNameBox[] = "编辑框1";
inline constexpr char kAddButtonFrame[] = "外形框4";
inline constexpr char kAddButton[] = "超级按钮1";
inline constexpr char kItemsFrame[] = "外形框2";
inline constexpr char kItemsList[] = "超级列表框1";
inline constexpr char kDeliveryTimer[] = "自动发货时钟";
inline constexpr char kRenameButtonFrame[] = "外形框7";
inline constexpr char kRenameButton[] = "超级按钮2";
inline constexpr char kDeleteButtonFrame[] = "外形框8";
inline constexpr char kDeleteButton[] = "超级按钮3";
inline constexpr char kWelcomeLabel[] = "标签1";

// Page 0: the attributes box.
inline constexpr char kAttributesFrame[] = "外形框3";
inline constexpr char kAttributesHeaderFrame[] = "外形框9";
inline constexpr char kAttributesHeader[] = "标签6";
inline constexpr char kAttributeNames[] = "标签5";
inline constexpr char kRemarkBox[] = "宝贝备注";
inline constexpr char kLimitBox[] = "限拍数量";
inline constexpr char kNeedsCardBox[] = "选择框1";
inline constexpr char kWarningLevelLabel[] = "标签12";
inline constexpr char kWarningLevelBox[] = "库存预警线";
// The buyers' message template of the item (beyond the design layout).
inline constexpr char kTemplateButton[] = "按钮消息模板";

// Page 0: the auto-delivery settings box.
inline constexpr char kSettingsFrame[] = "外形框10";
inline constexpr char kSettingsHeaderFrame[] = "外形框11";
inline constexpr char kSettingsHeader[] = "标签4";
inline constexpr char kIntervalLabel[] = "标签7";
inline constexpr char kIntervalBox[] = "编辑框2";
inline constexpr char kDeliverySwitch[] = "选择框2";
inline constexpr char kAutostartBox[] = "登录桌面时启动";
inline constexpr char kStatusGroup[] = "分组框1";
inline constexpr char kStatusLabel[] = "标签8";
inline constexpr char kApplyButtonFrame[] = "外形框12";
inline constexpr char kApplyButton[] = "超级按钮4";
// Beside "设置": the order rules' dialog (beyond the design layout).
inline constexpr char kRulesButtonFrame[] = "外形框发货规则";
inline constexpr char kRulesButton[] = "按钮发货规则";

// Page 0: the login browser.
inline constexpr char kBrowserHolder[] = "图片框2";
inline constexpr char kLoginBrowser[] = "互联网浏览器1";
// A new login browser opened in the holder when the login expired.
inline constexpr char kReLoginBrowser[] = "重新登录浏览器";

// Page 1: the sent cards.
inline constexpr char kGridFrame[] = "外形框1";
inline constexpr char kSentCardsGrid[] = "高级表格1";
// Page 1: the search and action bar and the note line.
inline constexpr char kSentSearchBox[] = "已发搜索框";
inline constexpr char kUndeliveredOnlyBox[] = "只看未送达";
inline constexpr char kSentCountLabel[] = "已发条数";
inline constexpr char kResendButtonFrame[] = "重新发送框";
inline constexpr char kResendButton[] = "重新发送";
inline constexpr char kResendAllButtonFrame[] = "补发未送达框";
inline constexpr char kResendAllButton[] = "补发全部未送达";
inline constexpr char kSentExportButtonFrame[] = "导出已发框";
inline constexpr char kSentExportButton[] = "导出已发";
inline constexpr char kSentNoteLabel[] = "已发提示";

// Page 2: the card stock and the card import.
inline constexpr char kChooserLabel[] = "标签9";
inline constexpr char kItemChooser[] = "组合框1";
inline constexpr char kImportFrame[] = "外形框17";
inline constexpr char kImportHeaderFrame[] = "外形框19";
inline constexpr char kImportHeader[] = "标签11";
inline constexpr char kImportBox[] = "编辑框3";
inline constexpr char kImportButtonFrame[] = "外形框21";
inline constexpr char kImportButton[] = "超级按钮8";
inline constexpr char kFileImportButtonFrame[] = "外形框22";
inline constexpr char kFileImportButton[] = "超级按钮10";
inline constexpr char kStockFrame[] = "外形框13";
inline constexpr char kStockHeaderFrame[] = "外形框20";
inline constexpr char kStockHeader[] = "标签10";
inline constexpr char kStockList[] = "超级列表框2";
inline constexpr char kDeleteStockButtonFrame[] = "外形框18";
inline constexpr char kDeleteStockButton[] = "超级按钮9";
inline constexpr char kNumberButtonFrame[] = "外形框15";
inline constexpr char kNumberButton[] = "超级按钮6";
inline constexpr char kPasswordButtonFrame[] = "外形框16";
inline constexpr char kPasswordButton[] = "超级按钮7";
inline constexpr char kStockExportButton[] = "导出库存";

// Page 3: the deliveries plot.
inline constexpr char kPlotPage[] = "发货统计页";
inline constexpr char kPlotItemLabel[] = "标签统计宝贝";
inline constexpr char kPlotItemChooser[] = "统计宝贝";
inline constexpr char kPlotTotalLabel[] = "统计合计";
inline constexpr char kPlotFrame[] = "发货统计框";
inline constexpr char kPlotChart[] = "发货统计图";

// Page 4: the log page.
inline constexpr char kLogPage[] = "page4";
inline constexpr char kLogFilterLabel[] = "标签日志筛选";
inline constexpr char kLogFilterBox[] = "编辑框日志筛选";
inline constexpr char kLogWarningsOnlyBox[] = "只看警告";
inline constexpr char kAboutButton[] = "按钮关于";
inline constexpr char kLogCountLabel[] = "标签日志条数";
inline constexpr char kNotificationSettingsButton[] = "按钮通知设置";
inline constexpr char kLogFrame[] = "外形框日志";
inline constexpr char kLogView[] = "表格运行日志";

// The status line under the page control.
inline constexpr char kStatusLineFrame[] = "外形框状态栏";
inline constexpr char kStatusLineText[] = "标签状态栏";
inline constexpr char kReLoginButton[] = "按钮重新登录";
inline constexpr char kKeepLoginBox[] = "选择框记住登录";

}  // namespace autodeliver::layout
