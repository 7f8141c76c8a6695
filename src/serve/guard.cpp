// Who may ask the preview server anything: the token in the page's address
// and the Host header of the address served.
#include "serve/guard.hpp"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <random>

namespace fotolume {

namespace {

// Compared in a time that does not depend on where they first differ.
bool sameToken(const std::string& given, const std::string& token) {
    if (given.size() != token.size()) return false;
    unsigned difference = 0;
    for (std::size_t k = 0; k < token.size(); ++k)
        difference |= static_cast<unsigned char>(given[k] ^ token[k]);
    return difference == 0;
}

// A Host of digits and dots (or a bracketed IPv6 address) with the port `at`.
bool numericHost(const std::string& host, const std::string& at) {
    if (host.size() <= at.size() || host.compare(host.size() - at.size(), at.size(), at) != 0)
        return false;
    const std::string name = host.substr(0, host.size() - at.size());
    if (name.front() == '[' && name.back() == ']')
        return name.find_first_not_of("0123456789abcdefABCDEF:.[]") == std::string::npos;
    return name.find_first_not_of("0123456789.") == std::string::npos;
}

}  // namespace

std::string makeToken() {
    std::random_device random;
    std::string token;
    for (int k = 0; k < 4; ++k) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
        token += part;
    }
    return token;
}

bool isLoopback(const std::string& address) {
    return address.rfind("127.", 0) == 0 || address == "::1" || address == "localhost";
}

bool isWildcard(const std::string& address) { return address == "0.0.0.0" || address == "::"; }

// On every address of the machine, any address written as numbers: a name
// could be one an attacker's DNS turns into this machine.
std::vector<std::string> hostNames(const std::string& address, int port) {
    const std::string at = ":" + std::to_string(port);
    if (isWildcard(address)) return {"127.0.0.1" + at, "localhost" + at, at};
    std::vector<std::string> names{
        (address.find(':') != std::string::npos ? "[" + address + "]" : address) + at};
    if (isLoopback(address)) names.push_back("localhost" + at);
    return names;
}

std::string refusal(const httplib::Request& request, const Guard& guard, int& status) {
    const std::string host = request.get_header_value("Host");
    status = 403;
    const bool anyNumeric = guard.hosts.back()[0] == ':';  // served on every address
    if (std::find(guard.hosts.begin(), guard.hosts.end(), host) == guard.hosts.end() &&
        !(anyNumeric && numericHost(host, guard.hosts.back())))
        return "this page is served only as http://" + guard.hosts.front() + "/";
    static const char* const paths[] = {"/", "/events", "/image", "/explain"};
    status = 404;
    if (std::none_of(std::begin(paths), std::end(paths),
                     [&](const char* path) { return request.path == path; }))
        return "no such page";
    status = 403;
    if (!sameToken(request.get_param_value("t"), guard.token))
        return "the address needs its token: open the one fotolume printed";
    return "";
}

}  // namespace fotolume
