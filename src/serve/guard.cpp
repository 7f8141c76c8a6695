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

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string decoded(const std::string& text) {
    std::string out;
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (text[k] == '+') {
            out += ' ';
        } else if (text[k] == '%' && k + 2 < text.size() && hexDigit(text[k + 1]) >= 0 &&
                   hexDigit(text[k + 2]) >= 0) {
            out += static_cast<char>(hexDigit(text[k + 1]) * 16 + hexDigit(text[k + 2]));
            k += 2;
        } else {
            out += text[k];
        }
    }
    return out;
}

}  // namespace

Target parseTarget(const std::string& target) {
    Target parsed;
    const std::size_t mark = target.find('?');
    parsed.path = decoded(target.substr(0, mark));
    if (mark == std::string::npos) return parsed;
    const std::string query = target.substr(mark + 1);
    for (std::size_t start = 0; start <= query.size();) {
        std::size_t end = query.find('&', start);
        if (end == std::string::npos) end = query.size();
        const std::string pair = query.substr(start, end - start);
        const std::size_t equals = pair.find('=');
        const std::string name = decoded(pair.substr(0, equals));
        if (!name.empty())
            parsed.query.emplace(
                name, equals == std::string::npos ? "" : decoded(pair.substr(equals + 1)));
        start = end + 1;
    }
    return parsed;
}

std::string refusal(const std::vector<std::string>& hosts, const Target& target, const Guard& guard,
                    int& status) {
    status = 400;
    if (hosts.size() != 1) return "a request names its host once";
    const std::string& host = hosts.front();
    if (host.find('\0') != std::string::npos) return "a host name holds no NUL";
    status = 403;
    const bool anyNumeric = guard.hosts.back()[0] == ':';  // served on every address
    if (std::find(guard.hosts.begin(), guard.hosts.end(), host) == guard.hosts.end() &&
        !(anyNumeric && numericHost(host, guard.hosts.back())))
        return "this page is served only as http://" + guard.hosts.front() + "/";
    static const char* const paths[] = {"/", "/events", "/image", "/explain", "/settings"};
    status = 404;
    if (std::none_of(std::begin(paths), std::end(paths),
                     [&](const char* path) { return target.path == path; }))
        return "no such page";
    status = 403;
    if (!sameToken(target.get("t"), guard.token))
        return "the address needs its token: open the one fotolume printed";
    return "";
}

}  // namespace fotolume
