#include "WinHttpTls.h"

#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

namespace zenta {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// Files larger than this are no certificate file: refused rather than read into memory.
constexpr long kMostFileBytes = 16L * 1024 * 1024;

// The UTF-16 form of a UTF-8 text ("" when it is not UTF-8).
std::wstring Wide(const std::string& text) {
  if (text.empty() || text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    return std::wstring();
  }
  const int size = static_cast<int>(text.size());
  const int units =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (units <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, &wide[0], units);
  return wide;
}

// The whole file at path (a UTF-8 name); false when it cannot be read.
bool ReadFile(const std::string& path, std::string& bytes) {
  const std::wstring name = Wide(path);
  if (name.empty()) return false;
  std::unique_ptr<FILE, decltype(&std::fclose)> file(_wfopen(name.c_str(), L"rb"), &std::fclose);
  if (!file) return false;
  char block[16384];
  for (;;) {
    const std::size_t read = std::fread(block, 1, sizeof block, file.get());
    bytes.append(block, read);
    if (bytes.size() > static_cast<std::size_t>(kMostFileBytes)) return false;
    if (read < sizeof block) return std::ferror(file.get()) == 0;
  }
}

// Wipes a copy of a secret before its memory goes back.
void Wipe(std::wstring& secret) {
  if (!secret.empty()) SecureZeroMemory(&secret[0], secret.size() * sizeof(wchar_t));
}

// True when certificate has a private key attached (from the PFX file or the store).
bool HasKey(PCCERT_CONTEXT certificate) {
  constexpr DWORD kNcryptKeyHandle = 78;  // CERT_NCRYPT_KEY_HANDLE_PROP_ID
  for (const DWORD property : {static_cast<DWORD>(CERT_KEY_PROV_INFO_PROP_ID),
                               static_cast<DWORD>(CERT_KEY_CONTEXT_PROP_ID), kNcryptKeyHandle}) {
    DWORD size = 0;
    if (CertGetCertificateContextProperty(certificate, property, nullptr, &size)) return true;
  }
  return false;
}

// The words for a chain's trust errors and the SSL policy's verdict.
const char* TrustMeaning(DWORD status) {
  if (status & CERT_TRUST_IS_NOT_TIME_VALID) return "a certificate of its chain has expired";
  if (status & CERT_TRUST_IS_REVOKED) return "a certificate of its chain is revoked";
  if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return "it is not for TLS servers";
  if (status & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) {
    return "it chains to no certificate of caFile";
  }
  return "its chain is not valid";
}

const char* PolicyMeaning(LONG error) {
  switch (error) {
    case CERT_E_CN_NO_MATCH:
      return "it is for another host name";
    case CERT_E_EXPIRED:
      return "it has expired or is not yet valid";
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_CHAINING:
      return "it chains to no certificate of caFile";
    case CERT_E_WRONG_USAGE:
      return "it is not for TLS servers";
    default:
      return "the TLS server policy refuses it";
  }
}

}  // namespace

CaTrust::~CaTrust() {
  if (engine_ != nullptr) CertFreeCertificateChainEngine(engine_);
  if (roots_ != nullptr) CertCloseStore(roots_, 0);
}

bool CaTrust::Load(const std::string& path, Detail& detail) {
  std::string pem;
  if (!ReadFile(path, pem)) {
    detail.Set("the session option caFile (\"%.200s\") cannot be read", path.c_str());
    return false;
  }
  roots_ = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
  if (roots_ == nullptr) {
    detail.Set("the session option caFile: no certificate store could be made");
    return false;
  }
  // Each "-----BEGIN CERTIFICATE-----" block in turn; text between blocks is skipped.
  const char* const kBegin = "-----BEGIN CERTIFICATE-----";
  const char* const kEnd = "-----END CERTIFICATE-----";
  int loaded = 0;
  for (std::size_t at = pem.find(kBegin); at != std::string::npos; at = pem.find(kBegin, at)) {
    const std::size_t end = pem.find(kEnd, at);
    if (end == std::string::npos) break;
    const std::size_t blockEnd = end + std::strlen(kEnd);
    const DWORD length = static_cast<DWORD>(blockEnd - at);
    DWORD size = 0;
    if (CryptStringToBinaryA(pem.data() + at, length, CRYPT_STRING_BASE64HEADER, nullptr, &size,
                             nullptr, nullptr)) {
      std::string der(size, '\0');
      if (CryptStringToBinaryA(pem.data() + at, length, CRYPT_STRING_BASE64HEADER,
                               reinterpret_cast<BYTE*>(&der[0]), &size, nullptr, nullptr)) {
        PCCERT_CONTEXT certificate = CertCreateCertificateContext(
            kEncoding, reinterpret_cast<const BYTE*>(der.data()), size);
        if (certificate != nullptr) {
          if (CertAddCertificateContextToStore(roots_, certificate, CERT_STORE_ADD_ALWAYS,
                                               nullptr)) {
            ++loaded;
          }
          CertFreeCertificateContext(certificate);
        }
      }
    }
    at = blockEnd;
  }
  if (loaded == 0) {
    detail.Set("the session option caFile (\"%.200s\") holds no PEM certificate", path.c_str());
    return false;
  }
  // The exclusive root store: these certificates and no other are trust anchors. The size of
  // Windows 8 and later first; wine, and Windows 7, take the configuration without
  // dwExclusiveFlags (which stays 0 here), and read hExclusiveRoot as well.
  CERT_CHAIN_ENGINE_CONFIG config{};
  config.hExclusiveRoot = roots_;
  config.cbSize = sizeof config;
  if (!CertCreateCertificateChainEngine(&config, &engine_)) {
    config.cbSize = offsetof(CERT_CHAIN_ENGINE_CONFIG, dwExclusiveFlags);
    if (!CertCreateCertificateChainEngine(&config, &engine_)) {
      detail.Set("the session option caFile: no chain engine could be made (error %lu)",
                 static_cast<unsigned long>(GetLastError()));
      return false;
    }
  }
  return true;
}

bool CaTrust::Verify(PCCERT_CONTEXT certificate, const std::wstring& host, Detail& reason) const {
  LPSTR serverAuth = const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH);
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = &serverAuth;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  // The certificates the server sent beside its own are in certificate's store.
  if (!CertGetCertificateChain(engine_, certificate, nullptr, certificate->hCertStore, &para, 0,
                               nullptr, &chain)) {
    reason.Set("no chain could be built for it (error %lu)",
               static_cast<unsigned long>(GetLastError()));
    return false;
  }
  std::unique_ptr<const CERT_CHAIN_CONTEXT, decltype(&CertFreeCertificateChain)> owned(
      chain, &CertFreeCertificateChain);
  // The chain's own status first: wine's SSL policy passes a chain that ends in no root.
  if (chain->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR) {
    reason.Set("%s (trust status 0x%lx)", TrustMeaning(chain->TrustStatus.dwErrorStatus),
               static_cast<unsigned long>(chain->TrustStatus.dwErrorStatus));
    return false;
  }
  HTTPSPolicyCallbackData https{};
  https.cbStruct = sizeof https;
  https.dwAuthType = AUTHTYPE_SERVER;
  https.pwszServerName = const_cast<wchar_t*>(host.c_str());
  CERT_CHAIN_POLICY_PARA policy{};
  policy.cbSize = sizeof policy;
  policy.pvExtraPolicyPara = &https;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
    reason.Set("the TLS server policy could not be applied (error %lu)",
               static_cast<unsigned long>(GetLastError()));
    return false;
  }
  if (status.dwError != 0) {
    reason.Set("%s (policy error 0x%08lx)", PolicyMeaning(static_cast<LONG>(status.dwError)),
               static_cast<unsigned long>(status.dwError));
    return false;
  }
  return true;
}

ClientCertificate::~ClientCertificate() {
  if (certificate_ != nullptr) CertFreeCertificateContext(certificate_);
  if (store_ != nullptr) CertCloseStore(store_, 0);
}

bool ClientCertificate::Load(const std::string& source, const std::string& password,
                             Detail& detail) {
  if (source.compare(0, 6, "store:") == 0) {
    const std::string hex = source.substr(6);
    BYTE hash[20];
    bool valid = hex.size() == 2 * sizeof hash;
    for (std::size_t i = 0; valid && i < sizeof hash; ++i) {
      unsigned int byte = 0;
      valid = std::isxdigit(static_cast<unsigned char>(hex[2 * i])) &&
              std::isxdigit(static_cast<unsigned char>(hex[2 * i + 1])) &&
              std::sscanf(hex.c_str() + 2 * i, "%2x", &byte) == 1;
      hash[i] = static_cast<BYTE>(byte);
    }
    if (!valid) {
      detail.Set(
          "the session option clientCert (\"%.60s\") must be \"store:\" and the certificate's "
          "SHA-1 thumbprint in 40 hex digits",
          source.c_str());
      return false;
    }
    store_ = CertOpenStore(
        CERT_STORE_PROV_SYSTEM_W, 0, 0,
        CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG | CERT_STORE_OPEN_EXISTING_FLAG,
        L"MY");
    CRYPT_HASH_BLOB blob{sizeof hash, hash};
    certificate_ = store_ == nullptr ? nullptr
                                     : CertFindCertificateInStore(store_, kEncoding, 0,
                                                                  CERT_FIND_HASH, &blob, nullptr);
    if (certificate_ == nullptr || !HasKey(certificate_)) {
      detail.Set(
          "the session option clientCert (\"%.60s\"): the current user's personal store (MY) "
          "holds %s",
          source.c_str(),
          certificate_ == nullptr ? "no certificate with that thumbprint"
                                  : "that certificate without its private key");
      return false;
    }
    return true;
  }
  std::string pfx;
  if (!ReadFile(source, pfx)) {
    detail.Set("the session option clientCert (\"%.200s\") cannot be read", source.c_str());
    return false;
  }
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(pfx.size()), reinterpret_cast<BYTE*>(&pfx[0])};
  if (!PFXIsPFXBlob(&blob)) {
    detail.Set(
        "the session option clientCert (\"%.200s\") is no PFX (PKCS #12) file; WinHTTP takes "
        "a PFX file or \"store:<thumbprint>\"",
        source.c_str());
    return false;
  }
  std::wstring secret = Wide(password);
  // The key stays in this process's memory: nothing is written to the user's key containers.
  store_ = PFXImportCertStore(&blob, secret.c_str(), PKCS12_NO_PERSIST_KEY);
  if (store_ == nullptr) store_ = PFXImportCertStore(&blob, secret.c_str(), 0);
  const DWORD error = store_ == nullptr ? GetLastError() : 0;
  Wipe(secret);
  if (store_ == nullptr) {
    // wine reports a wrong password with no error number at all.
    detail.Set(
        "the session option clientCert (\"%.200s\") cannot be opened with the password given "
        "(clientKeyPassword), or is damaged (error %lu)",
        source.c_str(), static_cast<unsigned long>(error));
    return false;
  }
  // The certificate that has the key is the client's; the others are its chain.
  for (PCCERT_CONTEXT next = CertEnumCertificatesInStore(store_, nullptr); next != nullptr;
       next = CertEnumCertificatesInStore(store_, next)) {
    if (HasKey(next)) {
      certificate_ = CertDuplicateCertificateContext(next);
      CertFreeCertificateContext(next);
      return true;
    }
  }
  detail.Set("the session option clientCert (\"%.200s\") holds no certificate with its key",
             source.c_str());
  return false;
}

}  // namespace zenta
