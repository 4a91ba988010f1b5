// The consign request; see consign.h.
#include "delivery/consign.h"

#include "http/http_request.h"
#include "market/hosts.h"
#include "market/login.h"

namespace autodeliver {

const std::string& ConsignFormBody() {
  // The memo field holds the form's own placeholder sentence, GBK bytes
  // percent-encoded.
  static const std::string kBody =
      "source=&callUrl=&action=user%2Fconsign_action&event_submit_do_dummy=anything&_fmw.n._0.g="
      "%C4%FA%BF%C9%D2%D4%D4%DA%B4%CB%CA%E4%C8%EB%B1%B8%CD%FC%D0%C5%CF%A2%A3%A8%BD%F6%C2%F4%BC%D2%D7%D4%BC%"
      "BA%BF%C9"
      "%BC%FB%A3%A9%A1%A3";
  return kBody;
}

bool ConsignOrder(const PendingOrder& order) {
  const std::string answer = HttpRequest(ConsignUrl(order.orderNumber, order.orderId), "POST",
                                         ConsignFormBody(), LoginCookies(), kConsignAnswerLimit);
  return !answer.empty();
}

}  // namespace autodeliver
