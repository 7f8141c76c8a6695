// Who may ask the preview server anything. Internal to the serve folder.
#pragma once

#include <map>
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

// A request's target: its path and its query's parameters, percent-decoded
// (a parameter given twice keeps its first value).
struct Target {
    std::string path;
    std::map<std::string, std::string> query;
    std::string get(const std::string& name) const {
        const auto found = query.find(name);
        return found == query.end() ? "" : found->second;
    }
};
Target parseTarget(const std::string& target);

// Why a request is refused (its status set), or "" when it may be served:
// not one Host header, or one with a NUL (400); a Host other than the
// address served, a path not the page's own, no token or another (403, 404).
std::string refusal(const std::vector<std::string>& hosts, const Target& target, const Guard& guard,
                    int& status);

}  // namespace fotolume
