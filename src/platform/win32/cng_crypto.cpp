#include "platform/win32/cng_crypto.h"

// clang-format off
#include "platform/win32/windows_headers.h"
#include <bcrypt.h>
// clang-format on

#include <cstring>
#include <vector>

namespace ost {
namespace {

// bcrypt.dll is no known DLL: imported by name, the loader would look for it in the
// elevated tool's folder first. It is loaded by its full path in the system folder.
struct CngApi {
  decltype(&BCryptOpenAlgorithmProvider) openAlgorithm = nullptr;
  decltype(&BCryptCloseAlgorithmProvider) closeAlgorithm = nullptr;
  decltype(&BCryptGetProperty) getProperty = nullptr;
  decltype(&BCryptCreateHash) createHash = nullptr;
  decltype(&BCryptHashData) hashData = nullptr;
  decltype(&BCryptFinishHash) finishHash = nullptr;
  decltype(&BCryptDestroyHash) destroyHash = nullptr;
  decltype(&BCryptImportKeyPair) importKeyPair = nullptr;
  decltype(&BCryptDestroyKey) destroyKey = nullptr;
  decltype(&BCryptVerifySignature) verifySignature = nullptr;
  bool loaded = false;
};

template <typename T>
void Bind(HMODULE module, const char* name, T* function) {
  *function = reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

CngApi LoadApi() {
  CngApi api;
  wchar_t path[MAX_PATH];
  const wchar_t kName[] = L"\\bcrypt.dll";
  UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length + sizeof kName / sizeof kName[0] > MAX_PATH) return api;
  lstrcatW(path, kName);
  HMODULE module = LoadLibraryW(path);
  if (!module) return api;
  Bind(module, "BCryptOpenAlgorithmProvider", &api.openAlgorithm);
  Bind(module, "BCryptCloseAlgorithmProvider", &api.closeAlgorithm);
  Bind(module, "BCryptGetProperty", &api.getProperty);
  Bind(module, "BCryptCreateHash", &api.createHash);
  Bind(module, "BCryptHashData", &api.hashData);
  Bind(module, "BCryptFinishHash", &api.finishHash);
  Bind(module, "BCryptDestroyHash", &api.destroyHash);
  Bind(module, "BCryptImportKeyPair", &api.importKeyPair);
  Bind(module, "BCryptDestroyKey", &api.destroyKey);
  Bind(module, "BCryptVerifySignature", &api.verifySignature);
  api.loaded = api.openAlgorithm && api.closeAlgorithm && api.getProperty && api.createHash &&
               api.hashData && api.finishHash && api.destroyHash && api.importKeyPair &&
               api.destroyKey && api.verifySignature;
  return api;
}

const CngApi& Api() {
  static const CngApi api = LoadApi();
  return api;
}

// One algorithm provider, closed on every way out.
class Algorithm {
 public:
  explicit Algorithm(const wchar_t* name) {
    if (!BCRYPT_SUCCESS(Api().openAlgorithm(&handle_, name, nullptr, 0))) handle_ = nullptr;
  }
  ~Algorithm() {
    if (handle_) Api().closeAlgorithm(handle_, 0);
  }
  Algorithm(const Algorithm&) = delete;
  Algorithm& operator=(const Algorithm&) = delete;
  BCRYPT_ALG_HANDLE get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

}  // namespace

bool CngCrypto::Sha256(ByteSpan data, Sha256Digest* digest) {
  if (!Api().loaded) return false;
  Algorithm algorithm(BCRYPT_SHA256_ALGORITHM);
  if (!algorithm.get()) return false;
  // Vista wants the hash object's memory from its caller.
  DWORD objectSize = 0;
  ULONG got = 0;
  if (!BCRYPT_SUCCESS(Api().getProperty(algorithm.get(), BCRYPT_OBJECT_LENGTH,
                                        reinterpret_cast<PUCHAR>(&objectSize), sizeof objectSize,
                                        &got, 0))) {
    return false;
  }
  std::vector<UCHAR> object(objectSize ? objectSize : 1);
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (!BCRYPT_SUCCESS(
          Api().createHash(algorithm.get(), &hash, object.data(), objectSize, nullptr, 0, 0))) {
    return false;
  }
  bool ok = true;
  constexpr size_t kBlock = 1u << 24;
  for (size_t at = 0; ok && at < data.size; at += kBlock) {
    const size_t size = data.size - at < kBlock ? data.size - at : kBlock;
    ok = BCRYPT_SUCCESS(
        Api().hashData(hash, const_cast<PUCHAR>(data.data + at), static_cast<ULONG>(size), 0));
  }
  ok = ok && BCRYPT_SUCCESS(Api().finishHash(hash, digest->bytes, kSha256Size, 0));
  Api().destroyHash(hash);
  return ok;
}

SignatureCheck CngCrypto::VerifyP256(ByteSpan publicKey, const Sha256Digest& digest,
                                     ByteSpan signature) {
  if (publicKey.size != kP256PublicKeySize || publicKey.data[0] != 0x04) {
    return SignatureCheck::kBadKey;
  }
  if (signature.size != kP256SignatureSize) return SignatureCheck::kInvalid;
  if (!Api().loaded) return SignatureCheck::kUnavailable;
  Algorithm algorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  if (!algorithm.get()) return SignatureCheck::kUnavailable;

  // The key blob: its header, then X and Y.
  std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
  BCRYPT_ECCKEY_BLOB header{};
  header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
  header.cbKey = 32;
  std::memcpy(blob.data(), &header, sizeof header);
  std::memcpy(blob.data() + sizeof header, publicKey.data + 1, 64);
  BCRYPT_KEY_HANDLE key = nullptr;
  if (!BCRYPT_SUCCESS(Api().importKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &key,
                                          blob.data(), static_cast<ULONG>(blob.size()), 0))) {
    return SignatureCheck::kBadKey;
  }
  const NTSTATUS status = Api().verifySignature(key, nullptr, const_cast<PUCHAR>(digest.bytes),
                                                kSha256Size, const_cast<PUCHAR>(signature.data),
                                                static_cast<ULONG>(signature.size), 0);
  Api().destroyKey(key);
  // STATUS_INVALID_SIGNATURE is the usual answer; no other failure vouches for it either.
  return BCRYPT_SUCCESS(status) ? SignatureCheck::kValid : SignatureCheck::kInvalid;
}

}  // namespace ost
