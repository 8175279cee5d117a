#pragma once
// The server-side TLS settings shared by the caster's TLS port and the monitor: one certificate
// chain and key from PEM files.
#include <memory>
#include <string>

namespace boost::asio::ssl {
class context;
}

// A relative file name is taken from the program directory (which ends with "/").
std::string TlsFilePath(const std::string& programDirectory, const std::string& file);

// A TLS server context with the certificate chain and key; null, with the reason in error, when a
// file is not set, missing, unreadable, or the key does not belong to the certificate.
std::shared_ptr<boost::asio::ssl::context> LoadTlsContext(const std::string& certFile,
                                                          const std::string& keyFile, std::string& error);
