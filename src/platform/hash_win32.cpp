// SHA-256 on Windows: CryptoAPI's AES provider (advapi32), for the updater and mkupdater.exe.
#include <windows.h>

#include <wincrypt.h>

#include <new>

#include "platform/platform.h"

#ifndef CALG_SHA_256  // declared by the headers only for XP SP3 and later
#define CALG_SHA_256 (ALG_CLASS_HASH | ALG_TYPE_ANY | 12)
#endif

namespace plat {

struct Sha256 {
  HCRYPTPROV provider;
  HCRYPTHASH hash;
};

Sha256* BeginSha256() {
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
    return nullptr;
  HCRYPTHASH hash = 0;
  Sha256* h = nullptr;
  if (CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash)) h = new (std::nothrow) Sha256{provider, hash};
  if (h) return h;
  if (hash) CryptDestroyHash(hash);
  CryptReleaseContext(provider, 0);
  return nullptr;
}

int AddSha256(Sha256* h, const void* data, std::size_t n) {
  const BYTE* p = static_cast<const BYTE*>(data);
  while (n > 0) {  // CryptHashData takes a DWORD length
    const DWORD chunk = n > 0x40000000u ? 0x40000000u : static_cast<DWORD>(n);
    if (!CryptHashData(h->hash, p, chunk, 0)) return -1;
    p += chunk;
    n -= chunk;
  }
  return 0;
}

int FinishSha256(Sha256* h, unsigned char digest[kSha256Size]) {
  DWORD length = kSha256Size;
  const bool ok = CryptGetHashParam(h->hash, HP_HASHVAL, digest, &length, 0) && length == kSha256Size;
  AbandonSha256(h);
  return ok ? 0 : -1;
}

void AbandonSha256(Sha256* h) {
  if (!h) return;
  CryptDestroyHash(h->hash);
  CryptReleaseContext(h->provider, 0);
  delete h;
}

}  // namespace plat
