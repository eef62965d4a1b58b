// Arrays in PostgreSQL's binary form, for statements that take many rows as
// a few array parameters (unnest). Internal to the record manager.
#ifndef KEL_RECMAN_PG_ARRAYS_H_
#define KEL_RECMAN_PG_ARRAYS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kel::pg_arrays {

// Type oids of the elements and of the arrays.
inline constexpr unsigned kInt8Oid = 20, kInt4Oid = 23, kByteaOid = 17, kInt8ArrayOid = 1016,
                          kInt4ArrayOid = 1007, kByteaArrayOid = 1001;

inline void PutBe32(std::string* out, std::uint32_t v) {
  for (int i = 3; i >= 0; --i) out->push_back(static_cast<char>(v >> (8 * i)));
}

inline void PutHeader(std::string* out, bool nulls, unsigned element_oid, std::size_t n) {
  PutBe32(out, 1);  // dimensions
  PutBe32(out, nulls ? 1 : 0);
  PutBe32(out, element_oid);
  PutBe32(out, static_cast<std::uint32_t>(n));
  PutBe32(out, 1);  // lower bound
}

// A one-dimensional array without NULLs whose elements are `n` pieces of
// `size` bytes each, made by `put(i, out)`.
template <typename Put>
std::string FixedArray(unsigned element_oid, std::size_t n, std::uint32_t size, Put put) {
  std::string out;
  out.reserve(20 + n * (4 + size));
  PutHeader(&out, false, element_oid, n);
  for (std::size_t i = 0; i < n; ++i) {
    PutBe32(&out, size);
    put(i, &out);
  }
  return out;
}

// An int8 array of `n` values, value(i) each.
template <typename Value>
std::string Int8Array(std::size_t n, Value value) {
  return FixedArray(kInt8Oid, n, 8, [&value](std::size_t i, std::string* out) {
    const auto v = static_cast<std::uint64_t>(value(i));
    for (int b = 7; b >= 0; --b) out->push_back(static_cast<char>(v >> (8 * b)));
  });
}

// A bytea array whose elements may be NULL (nullptr).
inline std::string BytesArray(const std::vector<const std::string*>& items) {
  bool nulls = false;
  std::size_t size = 20;
  for (const std::string* item : items) {
    nulls = nulls || item == nullptr;
    size += 4 + (item == nullptr ? 0 : item->size());
  }
  std::string out;
  out.reserve(size);
  PutHeader(&out, nulls, kByteaOid, items.size());
  for (const std::string* item : items) {
    if (item == nullptr) {
      PutBe32(&out, 0xFFFFFFFFu);  // length -1: NULL
      continue;
    }
    PutBe32(&out, static_cast<std::uint32_t>(item->size()));
    out += *item;
  }
  return out;
}

}  // namespace kel::pg_arrays

#endif  // KEL_RECMAN_PG_ARRAYS_H_
