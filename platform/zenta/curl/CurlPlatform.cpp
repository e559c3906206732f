// What differs between Linux and Windows under the libcurl transport (see CurlPlatform.h).
#include "CurlPlatform.h"

#include <zenta/ZentaSdk.h>

#include <cstring>
#include <string>
#include <system_error>

#ifdef _WIN32
// A block of its own, so that sorting the includes keeps it after the socket headers.
#include <wincrypt.h>
#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#else
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <memory>
#endif

namespace zenta {

#ifdef _WIN32

int PollSockets(PollEntry* entries, int count, int timeoutMs) {
  if (count == 0) {  // WSAPoll refuses an empty set; poll() just waits
    Sleep(static_cast<DWORD>(timeoutMs));
    return 0;
  }
  const int ready = WSAPoll(entries, static_cast<ULONG>(count), timeoutMs);
  return ready == SOCKET_ERROR ? -1 : ready;
}

int CloseSocket(curl_socket_t socket) { return closesocket(socket); }

std::string SystemErrorText(long error) {
  return std::system_category().message(static_cast<int>(error));
}

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const char* const kStorePrefix = "store:";

// The UTF-16 form of an ASCII or UTF-8 text.
std::wstring Wide(const std::string& text) {
  const int units = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  if (units <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &wide[0], units);
  wide.resize(static_cast<std::size_t>(units - 1));
  return wide;
}

// "store:" and a SHA-1 thumbprint: the certificate, with its key, must be in the current user's
// personal store, which Schannel reads it from at each handshake.
int CheckStoreCertificate(const std::string& source, Detail& detail) {
  const std::string hex = source.substr(std::strlen(kStorePrefix));
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
    return ZENTA_E_BAD_OPTION;
  }
  HCERTSTORE store = CertOpenStore(
      CERT_STORE_PROV_SYSTEM_W, 0, 0,
      CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG | CERT_STORE_OPEN_EXISTING_FLAG,
      L"MY");
  CRYPT_HASH_BLOB blob{sizeof hash, hash};
  PCCERT_CONTEXT found =
      store == nullptr
          ? nullptr
          : CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_HASH, &blob, nullptr);
  DWORD size = 0;
  const bool hasKey = found != nullptr && CertGetCertificateContextProperty(
                                              found, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size);
  if (found != nullptr) CertFreeCertificateContext(found);
  if (store != nullptr) CertCloseStore(store, 0);
  if (hasKey) return ZENTA_OK;
  detail.Set(
      "the session option clientCert (\"%.60s\"): the current user's personal store (MY) holds %s",
      source.c_str(),
      found == nullptr ? "no certificate with that thumbprint"
                       : "that certificate without its private key");
  return ZENTA_E_BAD_OPTION;
}

// A PFX (PKCS #12) file that the password opens; imported only to be checked, so a wrong password
// or a file of another kind is refused when the session opens, not at the first handshake.
int CheckPfxFile(const std::string& path, const std::string& password, Detail& detail) {
  std::ifstream file(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(&bytes[0])};
  if (bytes.empty() || !PFXIsPFXBlob(&blob)) {
    detail.Set(
        "the session option clientCert (\"%.200s\") is no PFX (PKCS #12) file; on Windows it is "
        "a PFX file or \"store:<thumbprint>\"",
        path.c_str());
    return ZENTA_E_BAD_OPTION;
  }
  std::wstring secret = Wide(password);
  HCERTSTORE store = PFXImportCertStore(&blob, secret.c_str(), PKCS12_NO_PERSIST_KEY);
  if (!secret.empty()) SecureZeroMemory(&secret[0], secret.size() * sizeof(wchar_t));
  if (store != nullptr) {
    CertCloseStore(store, 0);
    return ZENTA_OK;
  }
  detail.Set(
      "the session option clientCert (\"%.200s\") cannot be opened with the password given "
      "(clientKeyPassword), or is damaged",
      path.c_str());
  return ZENTA_E_BAD_OPTION;
}

}  // namespace

int CheckTlsOptions(const TransportConfig& config, Detail& detail) {
  if (!config.clientKey.empty()) {
    detail.Set(
        "the session option clientKey cannot be used on Windows, where Schannel takes the key "
        "with its certificate: a PFX file or \"store:<thumbprint>\" in clientCert; leave "
        "clientKey empty");
    return ZENTA_E_BAD_OPTION;
  }
  if (!config.https || config.clientCert.empty()) return ZENTA_OK;
  if (config.clientCert.compare(0, std::strlen(kStorePrefix), kStorePrefix) == 0) {
    return CheckStoreCertificate(config.clientCert, detail);
  }
  return CheckPfxFile(config.clientCert, config.clientKeyPassword, detail);
}

std::string ClientKeyProblem(const TransportConfig&) { return ""; }

CURLcode SetTlsOptions(CURL* easy, const TransportConfig& config, bool*) {
  // Revocation is checked by default: a certificate whose revocation cannot be checked (no list
  // reachable) is refused unless the session asked for best effort.
  CURLcode result = curl_easy_setopt(
      easy, CURLOPT_SSL_OPTIONS,
      static_cast<long>(config.revocationBestEffort ? CURLSSLOPT_REVOKE_BEST_EFFORT : 0));
  if (result != CURLE_OK || config.clientCert.empty()) return result;
  if (config.clientCert.compare(0, std::strlen(kStorePrefix), kStorePrefix) == 0) {
    // Schannel's path of a certificate in a system store: location, store, thumbprint.
    const std::string path =
        "CurrentUser\\MY\\" + config.clientCert.substr(std::strlen(kStorePrefix));
    return curl_easy_setopt(easy, CURLOPT_SSLCERT, path.c_str());
  }
  result = curl_easy_setopt(easy, CURLOPT_SSLCERT, config.clientCert.c_str());
  if (result == CURLE_OK) result = curl_easy_setopt(easy, CURLOPT_SSLCERTTYPE, "P12");
  if (result == CURLE_OK) {
    result = curl_easy_setopt(easy, CURLOPT_KEYPASSWD, config.clientKeyPassword.c_str());
  }
  return result;
}

namespace {

// The UTF-8 form of a UTF-16 text that WinHTTP gave, released with GlobalFree.
std::string Narrow(LPWSTR text) {
  if (text == nullptr) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string narrow(size > 0 ? static_cast<std::size_t>(size) : 1, '\0');
  if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, -1, &narrow[0], size, nullptr, nullptr);
  narrow.resize(narrow.size() - 1);
  GlobalFree(text);
  return narrow;
}

// The proxy a WinHTTP proxy list names for the scheme: entries "scheme=host:port" or
// "host:port" for every scheme, separated by ';' or whitespace. "" for none.
std::string PickProxy(const std::string& list, bool https) {
  const std::string scheme = https ? "https=" : "http=";
  std::string any;
  std::size_t at = 0;
  while (at < list.size()) {
    const std::size_t end = list.find_first_of("; \t", at);
    const std::string entry = list.substr(at, end == std::string::npos ? end : end - at);
    at = end == std::string::npos ? list.size() : end + 1;
    if (entry.compare(0, scheme.size(), scheme) == 0) return entry.substr(scheme.size());
    if (any.empty() && !entry.empty() && entry.find('=') == std::string::npos) any = entry;
  }
  return any;
}

// What one automatic lookup needs and finds, shared by the session opening and the thread that
// asks WinHTTP; whichever of the two lets go of it last frees it.
struct ProxyLookup {
  std::wstring url;        // the session's server
  std::wstring scriptUrl;  // the configuration script's URL, or "" to detect one (WPAD)
  bool https = false;
  int boundMs = 0;        // each network step, and the wait for the whole lookup
  std::string proxy;      // the result: "host:port", or "" for none
  HANDLE done = nullptr;  // set when proxy is written
  std::atomic<int> holders{2};

  void Release() {
    if (holders.fetch_sub(1) != 1) return;
    CloseHandle(done);
    delete this;
  }
};

// Asks the automatic configuration (WPAD, or the configuration script) for the proxy of the
// lookup's URL. Runs on a thread of its own, which holds a reference to this DLL until it has
// returned from WinHTTP, so that a lookup that outlives its wait never runs in unloaded code.
DWORD WINAPI RunProxyLookup(void* data) {
  auto* lookup = static_cast<ProxyLookup*>(data);
  HINTERNET session = WinHttpOpen(L"", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0);
  if (session != nullptr) {
    const int bound = lookup->boundMs;
    WinHttpSetTimeouts(session, bound, bound, bound, bound);
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (lookup->scriptUrl.empty()) {
      options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
      options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    } else {
      options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
      options.lpszAutoConfigUrl = lookup->scriptUrl.c_str();
    }
    WINHTTP_PROXY_INFO info{};
    if (WinHttpGetProxyForUrl(session, lookup->url.c_str(), &options, &info)) {
      const std::string list = Narrow(info.lpszProxy);
      Narrow(info.lpszProxyBypass);
      if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY) {
        lookup->proxy = PickProxy(list, lookup->https);
      }
    }
    WinHttpCloseHandle(session);
  }
  SetEvent(lookup->done);
  lookup->Release();
  HMODULE self = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&RunProxyLookup), &self);
  FreeLibraryAndExitThread(self, 0);
}

// The automatic configuration's proxy for the session's server, or "" (none, or no answer within
// the connect timeout, five seconds at most: the session then goes direct).
std::string AutomaticProxy(const TransportConfig& config, LPWSTR scriptUrl) {
  auto* lookup = new (std::nothrow) ProxyLookup;
  if (lookup == nullptr) return std::string();
  lookup->url = Wide(config.origin + "/");
  lookup->scriptUrl = scriptUrl == nullptr ? std::wstring() : std::wstring(scriptUrl);
  lookup->https = config.https;
  lookup->boundMs =
      static_cast<int>(config.connectTimeout.count() < 5000 ? config.connectTimeout.count() : 5000);
  lookup->done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // The thread's reference to this DLL, given back by FreeLibraryAndExitThread.
  HMODULE self = nullptr;
  HANDLE thread = nullptr;
  if (lookup->done != nullptr &&
      GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                         reinterpret_cast<LPCWSTR>(&RunProxyLookup), &self)) {
    thread = CreateThread(nullptr, 0, &RunProxyLookup, lookup, 0, nullptr);
    if (thread == nullptr) FreeLibrary(self);
  }
  if (thread == nullptr) {
    if (lookup->done != nullptr) CloseHandle(lookup->done);
    delete lookup;
    return std::string();
  }
  CloseHandle(thread);
  std::string proxy;
  if (WaitForSingleObject(lookup->done, static_cast<DWORD>(lookup->boundMs)) == WAIT_OBJECT_0) {
    proxy = lookup->proxy;
  }
  lookup->Release();
  return proxy;
}

// True when the bypass list of the user's settings names host: "<local>" for names without a
// dot, a name, or "*" patterns of a name's end ("*.example.org").
bool Bypassed(const std::string& list, const std::string& host) {
  std::size_t at = 0;
  while (at < list.size()) {
    const std::size_t end = list.find_first_of("; \t", at);
    const std::string entry = list.substr(at, end == std::string::npos ? end : end - at);
    at = end == std::string::npos ? list.size() : end + 1;
    if (entry == "<local>" && host.find('.') == std::string::npos) return true;
    if (_stricmp(entry.c_str(), host.c_str()) == 0) return true;
    if (entry.size() > 1 && entry[0] == '*' && host.size() >= entry.size() - 1 &&
        _stricmp(host.c_str() + host.size() - (entry.size() - 1), entry.c_str() + 1) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

void FindSystemProxy(TransportConfig& config) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user{};
  std::string proxy;
  if (WinHttpGetIEProxyConfigForCurrentUser(&user)) {
    if (user.fAutoDetect || user.lpszAutoConfigUrl != nullptr) {
      proxy = AutomaticProxy(config, user.lpszAutoConfigUrl);
    }
    const std::string manual = Narrow(user.lpszProxy);
    const std::string bypass = Narrow(user.lpszProxyBypass);
    Narrow(user.lpszAutoConfigUrl);
    if (proxy.empty() && !manual.empty() && !Bypassed(bypass, config.host)) {
      proxy = PickProxy(manual, config.https);
    }
  }
  // The system's answer, a proxy or none, carries every request; libcurl does not read the
  // environment's proxy variables then, as Windows programs do not.
  config.proxySet = true;
  config.proxy = proxy.empty() || proxy.compare(0, 7, "http://") == 0 ? proxy : "http://" + proxy;
}

#else  // Linux and other POSIX systems

int PollSockets(PollEntry* entries, int count, int timeoutMs) {
  const int ready = poll(entries, static_cast<nfds_t>(count), timeoutMs);
  return ready < 0 && errno == EINTR ? 0 : ready;
}

int CloseSocket(curl_socket_t socket) { return close(socket); }

std::string SystemErrorText(long error) {
  return std::generic_category().message(static_cast<int>(error));
}

int CheckTlsOptions(const TransportConfig& config, Detail& detail) {
  if (config.clientCert.compare(0, 6, "store:") == 0) {
    detail.Set(
        "the session option clientCert names a Windows certificate store (\"store:\"); here it "
        "is a PEM file");
    return ZENTA_E_BAD_OPTION;
  }
  return ZENTA_OK;
}

namespace {

// The index under which a TLS context keeps its exchange's flag, for OnTlsMessage.
int FlagIndex() {
  static const int index = SSL_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

// OpenSSL shows the handshake's messages as they come: a CertificateRequest from the server
// (in TLS 1.3 too, decrypted) means it asks for a client certificate, and the exchange notes it,
// so that the server's refusal that follows (of no certificate, or of the one given) is named
// for what it is. Other messages and record headers return at once.
void OnTlsMessage(int writing, int, int contentType, const void* bytes, std::size_t length,
                  SSL* ssl, void*) {
  if (writing != 0 || contentType != SSL3_RT_HANDSHAKE || length == 0 ||
      *static_cast<const unsigned char*>(bytes) != SSL3_MT_CERTIFICATE_REQUEST) {
    return;
  }
  void* flag = SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), FlagIndex());
  if (flag != nullptr) *static_cast<bool*>(flag) = true;
}

// Called by libcurl with each new TLS context of the handle (one per connection it opens).
CURLcode OnTlsContext(CURL*, void* context, void* flag) {
  auto* tls = static_cast<SSL_CTX*>(context);
  if (SSL_CTX_set_ex_data(tls, FlagIndex(), flag) != 1) return CURLE_OUT_OF_MEMORY;
  SSL_CTX_set_msg_callback(tls, &OnTlsMessage);
  return CURLE_OK;
}

// Whether libcurl's TLS is OpenSSL, whose contexts OnTlsContext knows how to use.
bool OpenSslUnder() {
  static const bool openssl = [] {
    const curl_version_info_data* version = curl_version_info(CURLVERSION_NOW);
    return version != nullptr && version->ssl_version != nullptr &&
           std::strncmp(version->ssl_version, "OpenSSL/", 8) == 0;
  }();
  return openssl;
}

}  // namespace

std::string ClientKeyProblem(const TransportConfig& config) {
  const std::string& keyFile = config.clientKey.empty() ? config.clientCert : config.clientKey;
  std::ifstream in(keyFile, std::ios::binary);
  const std::string pem{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;
  // A password is always given ("" when none): without one OpenSSL would ask on the terminal.
  void* password = const_cast<char*>(config.clientKeyPassword.c_str());
  const Bio keyIn(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), &BIO_free);
  const std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      PEM_read_bio_PrivateKey(keyIn.get(), nullptr, nullptr, password), &EVP_PKEY_free);
  const Bio certIn(BIO_new_file(config.clientCert.c_str(), "rb"), &BIO_free);
  const std::unique_ptr<X509, decltype(&X509_free)> certificate(
      key && certIn ? PEM_read_bio_X509(certIn.get(), nullptr, nullptr, password) : nullptr,
      &X509_free);
  const bool mismatch = certificate && X509_check_private_key(certificate.get(), key.get()) != 1;
  ERR_clear_error();  // what OpenSSL noted here belongs to no connection
  // Both PEM forms of an encrypted key say so: "ENCRYPTED PRIVATE KEY" (PKCS #8) and
  // "Proc-Type: 4,ENCRYPTED" (the older form).
  if (!key && pem.find("ENCRYPTED") != std::string::npos) {
    return config.clientKeyPassword.empty() ? "the key is encrypted and no password was given"
                                            : "the password does not decrypt the key";
  }
  return mismatch ? "the key is not the certificate's" : "";
}

CURLcode SetTlsOptions(CURL* easy, const TransportConfig& config, bool* certificateAsked) {
  CURLcode result = CURLE_OK;
  const auto set = [&](CURLoption option, auto value) {
    if (result == CURLE_OK) result = curl_easy_setopt(easy, option, value);
  };
  if (!config.clientCert.empty()) {
    const std::string& key = config.clientKey.empty() ? config.clientCert : config.clientKey;
    // A password is always given ("" when none), so that an encrypted key never makes OpenSSL
    // ask for one on the terminal.
    set(CURLOPT_SSLCERT, config.clientCert.c_str());
    set(CURLOPT_SSLCERTTYPE, "PEM");
    set(CURLOPT_SSLKEY, key.c_str());
    set(CURLOPT_SSLKEYTYPE, "PEM");
    set(CURLOPT_KEYPASSWD, config.clientKeyPassword.c_str());
  }
  if (OpenSslUnder()) {
    set(CURLOPT_SSL_CTX_FUNCTION, &OnTlsContext);
    set(CURLOPT_SSL_CTX_DATA, static_cast<void*>(certificateAsked));
  }
  return result;
}

void FindSystemProxy(TransportConfig&) {}

#endif

}  // namespace zenta
