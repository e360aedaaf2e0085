#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

struct evp_md_ctx_st;

// An MD5 over the bytes added, computed by OpenSSL.
//
//     Md5 md5;
//     md5.Add(data, size);
//     md5.Hex(); // "d41d8cd98f00b204e9800998ecf8427e" for no bytes
//
// Digest and Hex tell the MD5 of what was added so far and leave the state
// as it is, so more bytes may follow. Throws std::runtime_error when OpenSSL
// offers no MD5 (a FIPS-only configuration).
class Md5
{
public:
  using Digest = std::array<std::uint8_t, 16>;

  Md5();
  ~Md5();
  Md5(const Md5& other);
  Md5& operator=(const Md5& other);

  void Add(const void* data, std::size_t size);
  // Starts again with no bytes.
  void Reset();
  Digest Result() const;
  // 32 lower-case hexadecimal digits.
  std::string Hex() const;

private:
  evp_md_ctx_st* context;
};
