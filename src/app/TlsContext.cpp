#include "app/TlsContext.h"

#include <openssl/ssl.h>

#include <boost/asio/ssl/context.hpp>

#include "core/StrFormat.h"

namespace ssl = boost::asio::ssl;

std::string TlsFilePath(const std::string& programDirectory, const std::string& file) {
  if (file.empty() || file.front() == '/') return file;
  return programDirectory + file;
}

std::shared_ptr<ssl::context> LoadTlsContext(const std::string& certFile, const std::string& keyFile,
                                             std::string& error) {
  if (certFile.empty() || keyFile.empty()) {
    error = "TLS: TLSCERT and TLSKEY must both name a PEM file";
    return nullptr;
  }
  auto context = std::make_shared<ssl::context>(ssl::context::tls_server);
  // TLS 1.2 and later only; the older versions are broken.
  context->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                       ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
  boost::system::error_code code;
  context->use_certificate_chain_file(certFile, code);
  if (code) {
    error = StrFormat("TLS: cannot use TLSCERT %s: %s", certFile.c_str(), code.message().c_str());
    return nullptr;
  }
  context->use_private_key_file(keyFile, ssl::context::pem, code);
  if (code) {
    error = StrFormat("TLS: cannot use TLSKEY %s: %s", keyFile.c_str(), code.message().c_str());
    return nullptr;
  }
  if (SSL_CTX_check_private_key(context->native_handle()) != 1) {
    error = StrFormat("TLS: TLSKEY %s does not belong to TLSCERT %s", keyFile.c_str(), certFile.c_str());
    return nullptr;
  }
  return context;
}
