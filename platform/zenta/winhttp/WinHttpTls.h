// The certificates of the WinHTTP transport, loaded once per session: the CA file whose
// certificates are the only roots a server's chain may end in, and the client certificate
// (a PFX file, or one of the user's store) that a server asking for one gets.
#ifndef ZENTA_WINHTTP_WINHTTPTLS_H
#define ZENTA_WINHTTP_WINHTTPTLS_H

// The socket headers come first: windows.h would otherwise bring the old winsock.h.
#include <winsock2.h>
// A block of their own, so that sorting the includes keeps them after the socket headers.
#include <wincrypt.h>
#include <windows.h>

#include <string>

#include "../ErrorDetail.h"

namespace zenta {

// Trust in the certificates of a PEM file alone: a chain engine whose exclusive root store holds
// them. Thread-safe once loaded (chain engines are).
class CaTrust {
 public:
  CaTrust() = default;
  CaTrust(const CaTrust&) = delete;
  CaTrust& operator=(const CaTrust&) = delete;
  ~CaTrust();

  // Reads every certificate of the PEM file at path. False, with detail naming the session
  // option caFile and why, when the file cannot be read or holds no certificate.
  bool Load(const std::string& path, Detail& detail);

  // True when certificate, with the certificates the server sent beside it (certificate's
  // store), chains to one of the file's certificates and is valid for host as a TLS server
  // (names, dates, usage); else false with the reason in reason ("it chains to no certificate of
  // caFile", ...).
  bool Verify(PCCERT_CONTEXT certificate, const std::wstring& host, Detail& reason) const;

 private:
  HCERTSTORE roots_ = nullptr;
  HCERTCHAINENGINE engine_ = nullptr;
};

// The client certificate with its private key, or none.
class ClientCertificate {
 public:
  ClientCertificate() = default;
  ClientCertificate(const ClientCertificate&) = delete;
  ClientCertificate& operator=(const ClientCertificate&) = delete;
  ~ClientCertificate();

  // source: a PFX (PKCS #12) file, opened with password, or "store:" and the SHA-1 thumbprint
  // (40 hex digits) of a certificate in the current user's personal store ("MY"). False, with
  // detail naming the session option clientCert and why (never the password), when it cannot be
  // used.
  bool Load(const std::string& source, const std::string& password, Detail& detail);

  PCCERT_CONTEXT Get() const { return certificate_; }

 private:
  HCERTSTORE store_ = nullptr;
  PCCERT_CONTEXT certificate_ = nullptr;
};

}  // namespace zenta

#endif  // ZENTA_WINHTTP_WINHTTPTLS_H
