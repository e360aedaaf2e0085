#include "util/Md5.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace {

// Fetched once: looking the algorithm up again for every file costs more
// than hashing a small one.
const EVP_MD* Algorithm()
{
  static const EVP_MD* const md5 = EVP_MD_fetch(nullptr, "MD5", nullptr);
  if (!md5)
    throw std::runtime_error("OpenSSL offers no MD5");
  return md5;
}

[[noreturn]] void Fail(const char* what)
{
  throw std::runtime_error(std::string("MD5: ") + what + " failed");
}

} // namespace

Md5::Md5() : context(EVP_MD_CTX_new())
{
  if (!context)
    Fail("allocation");
  if (EVP_DigestInit_ex(context, Algorithm(), nullptr) != 1) {
    EVP_MD_CTX_free(context);
    Fail("initialisation");
  }
}

Md5::~Md5()
{
  EVP_MD_CTX_free(context);
}

Md5::Md5(const Md5& other) : context(EVP_MD_CTX_new())
{
  if (!context)
    Fail("allocation");
  if (EVP_MD_CTX_copy_ex(context, other.context) != 1) {
    EVP_MD_CTX_free(context);
    Fail("copy");
  }
}

Md5& Md5::operator=(const Md5& other)
{
  if (this != &other && EVP_MD_CTX_copy_ex(context, other.context) != 1)
    Fail("copy");
  return *this;
}

void Md5::Add(const void* data, std::size_t size)
{
  if (size > 0 && EVP_DigestUpdate(context, data, size) != 1)
    Fail("update");
}

void Md5::Reset()
{
  if (EVP_DigestInit_ex(context, Algorithm(), nullptr) != 1)
    Fail("initialisation");
}

Md5::Digest Md5::Result() const
{
  // Finishing ends a context: a copy is finished, the running one goes on.
  Md5 copy(*this);
  Digest digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(copy.context, digest.data(), &length) != 1 || length != digest.size())
    Fail("finalisation");
  return digest;
}

std::string Md5::Hex() const
{
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t byte : Result()) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}
