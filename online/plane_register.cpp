#include "online/plane_register.h"

#include "online/error_box.h"
#include "online/http_exchange.h"
#include "res/resource.h"

bool RegisterPlane(const PlaneHeader& header, const std::string& serverName, const std::string& mail)
{
    const HttpRequest request = {"ADDPLANE_PHP", "_addplane.php", RegisterPlaneQuery(header, serverName, mail),
                                 AnswerMode::HeadersOnly, nullptr};
    if (HttpExchange(request) != HttpOutcome::Answered)
        return false;
    ShowInfoBox(IDS_PLANE_SENT);
    return true;
}
