// Host configuration from the environment; see hosts.h.
#include "market/hosts.h"

#include <cstdlib>

namespace autodeliver {
namespace {

std::string FromEnvironment(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return fallback;
  return value;
}

}  // namespace

std::string LoginHost() { return FromEnvironment("AUTODELIVER_LOGIN_HOST", "login.taobao.com"); }
std::string MemberHost() { return FromEnvironment("AUTODELIVER_MEMBER_HOST", "i.taobao.com"); }
std::string LogisticsHost() { return FromEnvironment("AUTODELIVER_LOGISTICS_HOST", "wuliu.taobao.com"); }
std::string WebHost() { return FromEnvironment("AUTODELIVER_WEB_HOST", "www.taobao.com"); }
std::string ServiceHost() {
  return FromEnvironment("AUTODELIVER_SERVICE_HOST", "service.autodeliver.example");
}

std::string LoginScheme() {
  return FromEnvironment("AUTODELIVER_LOGIN_SCHEME", "https") == "http" ? "http" : "https";
}

std::string LoginPageUrl() { return LoginScheme() + "://" + LoginHost() + "/"; }
std::string LoginCookieUrl() { return LoginScheme() + "://" + LoginHost() + "/member/login.jhtml"; }
std::string SellerProfileUrl() { return "http://" + MemberHost() + "/user/baseInfoSet.htm"; }
std::string OrderListUrl() { return "http://" + LogisticsHost() + "/user/order_list_new.htm"; }

std::string ConsignUrl(const std::string& orderNumber, const std::string& orderId) {
  return "http://" + LogisticsHost() + "/user/consign_dummy.htm?trade_id=" + orderNumber +
         "&order_id=" + orderId;
}

std::string ImDownloadUrl() {
  return "http://" + WebHost() + "/go/chn/aliwangwang/index.php?spm=0.0.0.51.LfwhjZ";
}

}  // namespace autodeliver
