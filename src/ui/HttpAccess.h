#pragma once
// The access rules of the monitor's HTTP server and where its page files come from; no I/O but
// the file system look-ups of the page folder.
#include <string>
#include <string_view>

// The only user name that HTTP Basic accepts.
inline constexpr std::string_view kMonitorUser = "admin";

// True when bind is an IPv4 or IPv6 loopback address ("127.0.0.1", "::1").
bool IsLoopbackBind(const std::string& bind);
// True when an Authorization header carries HTTP Basic credentials "admin" and password.
bool BasicAuthorized(std::string_view authorization, std::string_view password);
// True when a Host header names this machine by a loopback name: "localhost" or a loopback address,
// with or without a port. Without a password this keeps pages of other sites whose names were made to
// point at 127.0.0.1 (DNS rebinding) from reaching the monitor.
bool LoopbackHost(std::string_view host);
// True when origin is absent or names the monitor itself, "http://" followed by the Host header.
bool SameOrigin(std::string_view origin, std::string_view host);
// The file under webRoot that a request target names ("/" is index.html); empty when the target
// leaves the folder, is not a plain path or names no regular file.
std::string StaticFilePath(const std::string& webRoot, std::string_view target);
// Content-Type of a page file by its extension.
std::string_view ContentTypeOf(std::string_view path);
// The page folder: overridePath when set, else the first of programDirectory/web,
// executableDirectory/web, executableDirectory/../web (the source tree beside a build folder) and
// executableDirectory/../share/kavro/web (an installed prefix) that holds index.html; empty when none does.
std::string FindWebRoot(const std::string& overridePath, const std::string& executableDirectory,
                        const std::string& programDirectory);
