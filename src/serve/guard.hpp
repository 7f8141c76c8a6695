// Who may ask the preview server anything. Internal to the serve folder.
#pragma once

#include <httplib.h>

#include <string>
#include <vector>

namespace fotolume {

struct Guard {
    // The Host headers served; a bare ":PORT" last means any numeric one.
    std::vector<std::string> hosts;
    std::string token;
};

// 128 random bits from the system's generator, in hexadecimal.
std::string makeToken();

bool isLoopback(const std::string& address);
bool isWildcard(const std::string& address);  // every address of the machine

// The Host headers a browser sends for the address served (the first is the
// one to print).
std::vector<std::string> hostNames(const std::string& address, int port);

// Why a request is refused (its status set), or "" when it may be served:
// a Host other than the address served, a path not the page's own, no token.
std::string refusal(const httplib::Request& request, const Guard& guard, int& status);

}  // namespace fotolume
