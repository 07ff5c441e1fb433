// SHA-256 for mkupdater and the native builds: OpenSSL's libcrypto.
#include <openssl/evp.h>

#include <new>

#include "platform/platform.h"

namespace plat {

struct Sha256 {
  EVP_MD_CTX* ctx;
};

Sha256* BeginSha256() {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  if (!ctx) return nullptr;
  if (EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(ctx);
    return nullptr;
  }
  Sha256* h = new (std::nothrow) Sha256{ctx};
  if (!h) EVP_MD_CTX_free(ctx);
  return h;
}

int AddSha256(Sha256* h, const void* data, std::size_t n) {
  return n == 0 || EVP_DigestUpdate(h->ctx, data, n) == 1 ? 0 : -1;
}

int FinishSha256(Sha256* h, unsigned char digest[kSha256Size]) {
  unsigned int length = 0;
  const bool ok = EVP_DigestFinal_ex(h->ctx, digest, &length) == 1 && length == kSha256Size;
  AbandonSha256(h);
  return ok ? 0 : -1;
}

void AbandonSha256(Sha256* h) {
  if (!h) return;
  EVP_MD_CTX_free(h->ctx);
  delete h;
}

}  // namespace plat
