#pragma once
// The engine's service seam over the program's HTTP request routine.

#include "engine/service.h"

namespace vestrel {

class HttpRequestService : public ServiceHttp {
public:
    std::string request(const std::string& url, int method, const std::string& body, std::string* cookies,
                        std::string& status, int timeout_seconds) override;
};

} // namespace vestrel
