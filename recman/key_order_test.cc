// Key order through the engine, one table row per key kind, and the sortable
// encoding checked against numeric order on many values.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <random>

#include "gtest/gtest.h"
#include "recman/file_spec.h"
#include "recman/key_codec.h"
#include "recman/recman.h"
#include "recman/test_util.h"

namespace kel {
namespace {

using testing::CreateSpec;
using testing::Handle;
using testing::Le;
using testing::Segment;
using testing::TempDir;

constexpr int kLen = 24;

// Every key kind on both engines: the server must order keys exactly as
// the SQLite files do.
class KeyOrderTest : public ::testing::TestWithParam<testing::Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == testing::Backend::kServer && testing::TestServer().empty()) {
      GTEST_SKIP() << "no PostgreSQL server for the tests (KEL_TEST_PG)";
    }
    scope_.emplace(GetParam(), "/tmp");
  }
  std::optional<testing::BackendScope> scope_;
};
constexpr std::uint16_t kDup = kKeyFlagDuplicates;

std::string F32(float f) {
  std::string s(4, '\0');
  std::memcpy(s.data(), &f, 4);
  return s;
}

struct OrderCase {
  const char* name;
  std::vector<Segment> key;         // segments from position 1 on, one after the other
  std::vector<std::string> values;  // the key area of each record, inserted in this order
  std::vector<int> expected;        // indexes of `values` in key order
  std::vector<std::string> acs = {};
};

std::vector<OrderCase> Cases() {
  const std::string upper_acs =
      testing::AcsTable({{'a', 'A'}, {'b', 'B'}, {'c', 'C'}, {0x80, 'C'}});
  std::string zs1("abc\0xy", 6), zs2("ab\0zzz", 6), zs3("abcd\0\0", 6), zs4("\0qqqqq", 6);
  return {
      {"string bytes",
       {Segment{1, 3, kDup}},
       {"b  ", "a  ", "B  ", "ab ", "a\x82 "},
       {2, 1, 3, 4, 0}},
      {"descending string",
       {Segment{1, 3, kDup | kKeyFlagDescending}},
       {"b  ", "a  ", "B  ", "ab "},
       {0, 3, 1, 2}},
      {"case-insensitive",
       {Segment{1, 2, kDup | kKeyFlagCaseInsensitive}},
       {"Ab", "aa", "AC", "ab"},
       {1, 0, 3, 2}},
      {"collating sequence",
       {Segment{1, 1, kDup | kKeyFlagAlternateCollating}},
       {"D", "\x80", "b", "C", "a"},
       {4, 2, 1, 3, 0},  // a=A < b=B < (\x80 = C, inserted before C) < D
       {upper_acs}},
      {"classic binary",
       {Segment{1, 2, kKeyFlagBinary}},
       {Le(256, 2), Le(1, 2), Le(255, 2)},
       {1, 2, 0}},
      {"binary of odd length",
       {Segment{1, 3, kKeyFlagBinary}},
       {Le(0x10000, 3), Le(0xFF, 3)},
       {1, 0}},
      {"integer 2",
       {Segment{1, 2, 0, kTypeInteger}},
       {Le(-1, 2), Le(1, 2), Le(-300, 2), Le(0, 2)},
       {2, 0, 3, 1}},
      {"integer 8",
       {Segment{1, 8, 0, kTypeInteger}},
       {Le(INT64_MAX, 8), Le(INT64_MIN, 8), Le(0, 8), Le(-2, 8)},
       {1, 3, 2, 0}},
      {"descending integer",
       {Segment{1, 4, kKeyFlagDescending, kTypeInteger}},
       {Le(5, 4), Le(-5, 4), Le(70000, 4)},
       {2, 0, 1}},
      {"unsigned binary",
       {Segment{1, 4, 0, kTypeUnsignedBinary}},
       {Le(0xFFFFFFFF, 4), Le(1, 4), Le(0x80000000, 4)},
       {1, 2, 0}},
      {"float",
       {Segment{1, 4, kDup, kTypeFloat}},
       {F32(-1.5f), F32(0.0f), F32(-0.0f), F32(2.0f), F32(-100.0f), F32(0.25f)},
       {4, 0, 1, 2, 5, 3}},
      {"zstring", {Segment{1, 6, 0, kTypeZString}}, {zs1, zs2, zs3, zs4}, {3, 1, 0, 2}},
      {"lstring",
       {Segment{1, 5, 0, kTypeLString}},
       {std::string("\x03"
                    "abcX",
                    5),
        std::string("\x02"
                    "abYY",
                    5),
        std::string("\x04"
                    "abcd",
                    5)},
       {1, 0, 2}},
      {"segmented: string up, integer down",
       {Segment{1, 2, 0}, Segment{3, 2, kKeyFlagDescending, kTypeInteger}},
       {"AA" + Le(1, 2), "AA" + Le(5, 2), "AB" + Le(0, 2), "A0" + Le(9, 2)},
       {3, 1, 0, 2}},
      {"segmented zstring then string (no prefix confusion)",
       {Segment{1, 3, 0, kTypeZString}, Segment{4, 1, 0}},
       {std::string("a\0\0", 3) + "z", std::string("ab\0", 3) + "a", std::string("a\0\0", 3) + "b"},
       {2, 0, 1}},
      {"duplicates keep insertion order",
       {Segment{1, 1, kDup}},
       {"x", "y", "x", "x", "y"},
       {0, 2, 3, 1, 4}},
  };
}

TEST_P(KeyOrderTest, EachKeyKindReadsBackInItsOrderBothWays) {
  for (const OrderCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    CreateSpec file_spec;
    file_spec.record_length = kLen;
    int pos = 1;
    std::vector<Segment> key = c.key;
    for (Segment& s : key) {
      s.position = pos;
      pos += s.length;
    }
    file_spec.keys = {key};
    file_spec.acs = c.acs;
    const std::string path = dir.File("k.dat");
    ASSERT_EQ(testing::CreateFile(path, file_spec), kStatusOk);
    Handle h;
    ASSERT_EQ(h.Open(path), kStatusOk);
    for (std::size_t i = 0; i < c.values.size(); ++i) {
      std::string rec = c.values[i];
      rec.resize(kLen - 1, '.');
      rec.push_back(static_cast<char>('0' + i));
      ASSERT_EQ(h.Insert(rec), kStatusOk) << "value " << i;
    }
    std::int16_t st;
    std::vector<int> got;
    for (const std::string& r : testing::ReadAll(h, 0, &st)) got.push_back(r.back() - '0');
    EXPECT_EQ(st, kStatusEndOfFile);
    EXPECT_EQ(got, c.expected);
    got.clear();
    for (const std::string& r : testing::ReadAllBackwards(h, 0, &st)) got.push_back(r.back() - '0');
    std::vector<int> reversed(c.expected.rbegin(), c.expected.rend());
    EXPECT_EQ(got, reversed);
    // Get Equal on every value finds the first record inserted among those
    // whose keys compare equal to it.
    FileSpec parsed;
    const std::string bytes = file_spec.Bytes();
    ASSERT_EQ(ParseCreateBuffer(bytes.data(), bytes.size(), &parsed), kStatusOk);
    auto encode = [&](const std::string& v) {
      std::string e;
      EncodeSearchKey(parsed, parsed.keys[0], reinterpret_cast<const std::uint8_t*>(v.data()), &e);
      return e;
    };
    for (std::size_t i = 0; i < c.values.size(); ++i) {
      ASSERT_EQ(h.Get(kOpGetEqual, c.values[i].substr(0, pos - 1)), kStatusOk) << "value " << i;
      int first = -1;
      for (int j : c.expected) {
        if (first < 0 && encode(c.values[j]) == encode(c.values[i])) first = j;
      }
      EXPECT_EQ(h.record().back() - '0', first) << "value " << i;
    }
  }
}

TEST_P(KeyOrderTest, SearchesOnDescendingAndCaseInsensitiveKeys) {
  TempDir dir;
  CreateSpec file_spec;
  file_spec.record_length = 8;
  file_spec.keys = {{Segment{1, 2, kKeyFlagDescending}},
               {Segment{3, 2, kKeyFlagCaseInsensitive | kDup}}};
  ASSERT_EQ(testing::CreateFile(dir.File("d.dat"), file_spec), kStatusOk);
  Handle h;
  ASSERT_EQ(h.Open(dir.File("d.dat")), kStatusOk);
  for (const char* r : {"AAxx1234", "BBYy1234", "CCzZ1234"}) ASSERT_EQ(h.Insert(r), kStatusOk);
  struct Case {
    std::int16_t op;
    const char* search;
    int key;
    std::int16_t status;
    char first;
  } cases[] = {
      {kOpGetGreaterOrEqual, "BB", 0, kStatusOk, 'B'},
      {kOpGetGreater, "BB", 0, kStatusOk, 'A'},
      {kOpGetLess, "BB", 0, kStatusOk, 'C'},
      {kOpGetGreater, "AA", 0, kStatusEndOfFile, 0},
      {kOpGetFirst, "", 0, kStatusOk, 'C'},
      {kOpGetEqual, "YY", 1, kStatusOk, 'B'},
      {kOpGetEqual, "yy", 1, kStatusOk, 'B'},
      {kOpGetGreater, "xX", 1, kStatusOk, 'B'},
      {kOpGetLessOrEqual, "ZZ", 1, kStatusOk, 'C'},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(h.Get(c.op, c.search, c.key), c.status) << c.op << " " << c.search;
    if (c.status == kStatusOk) {
      EXPECT_EQ(h.record()[0], c.first) << c.op << " " << c.search;
    }
  }
}

TEST_P(KeyOrderTest, NullKeysLeaveRecordsOut) {
  TempDir dir;
  CreateSpec file_spec;
  file_spec.record_length = 8;
  // Key 0: null when all of its two segments are blank. Key 1: a manual key,
  // null when any segment is zero.
  file_spec.keys = {{Segment{1, 2, kKeyFlagNullAll | kDup | kKeyFlagModifiable, 0, false, ' '},
                Segment{3, 2, kKeyFlagNullAll | kDup | kKeyFlagModifiable, 0, false, ' '}},
               {Segment{5, 1, kKeyFlagNullAny | kDup, 0, false, '0'},
                Segment{6, 1, kKeyFlagNullAny | kDup, 0, false, '0'}}};
  ASSERT_EQ(testing::CreateFile(dir.File("n.dat"), file_spec), kStatusOk);
  Handle h;
  ASSERT_EQ(h.Open(dir.File("n.dat")), kStatusOk);
  const char* rows[] = {"    11a1", "AB  11a2", "  CD01a3", "EFGH10a4", "    00a5"};
  for (const char* r : rows) ASSERT_EQ(h.Insert(r), kStatusOk) << r;
  std::int16_t st;
  std::string got0, got1;
  for (const auto& r : testing::ReadAll(h, 0, &st)) got0 += r.back();
  for (const auto& r : testing::ReadAll(h, 1, &st)) got1 += r.back();
  EXPECT_EQ(got0, "324");  // "  CD" < "AB  " < "EFGH"; the blank ones are out
  EXPECT_EQ(got1, "12");   // any "0" leaves a record out
  // Updating a record into and out of a key.
  ASSERT_EQ(h.Get(kOpGetEqual, "AB  "), kStatusOk);
  ASSERT_EQ(h.Update("    11a2"), kStatusOk);
  got0.clear();
  for (const auto& r : testing::ReadAll(h, 0, &st)) got0 += r.back();
  EXPECT_EQ(got0, "34");
  std::uint32_t len = 0;
  std::string stat;
  ASSERT_EQ(h.Stat(&stat), kStatusOk);
  len = static_cast<unsigned char>(stat[6]);
  EXPECT_EQ(len, 5u);  // every record is in the file
}

// The encoding must order like the numbers: many random pairs per width.
TEST(KeyCodecTest, IntegerAndFloatEncodingsOrderLikeTheirValues) {
  std::mt19937_64 rng(12345);
  for (std::uint8_t type : {kTypeInteger, kTypeUnsignedBinary}) {
    for (int width : {1, 2, 4, 8}) {
      for (bool desc : {false, true}) {
        KeyDef key;
        KeySegment seg;
        seg.length = static_cast<std::uint16_t>(width);
        seg.kind =
            type == kTypeInteger ? SegmentKind::kSignedInteger : SegmentKind::kUnsignedInteger;
        seg.descending = desc;
        key.segments = {seg};
        key.length = width;
        FileSpec file_spec;
        for (int i = 0; i < 2000; ++i) {
          std::uint64_t a = rng(), b = rng();
          if (i % 3 == 0) b = a + (rng() % 3) - 1;  // neighbours and equal values
          std::string ea, eb;
          std::string ra = Le(static_cast<std::int64_t>(a), width),
                      rb = Le(static_cast<std::int64_t>(b), width);
          EncodeSearchKey(file_spec, key, reinterpret_cast<const std::uint8_t*>(ra.data()), &ea);
          EncodeSearchKey(file_spec, key, reinterpret_cast<const std::uint8_t*>(rb.data()), &eb);
          const int shift = 64 - 8 * width;
          int cmp;
          if (type == kTypeInteger) {
            std::int64_t va = static_cast<std::int64_t>(a << shift) >> shift;
            std::int64_t vb = static_cast<std::int64_t>(b << shift) >> shift;
            cmp = (va > vb) - (va < vb);
            EXPECT_EQ(DecodeIntegerKey(key, ea), va);
          } else {
            std::uint64_t va = shift == 64 ? a : (a << shift) >> shift;
            std::uint64_t vb = shift == 64 ? b : (b << shift) >> shift;
            cmp = (va > vb) - (va < vb);
          }
          if (desc) cmp = -cmp;
          int enc = ea.compare(eb);
          enc = (enc > 0) - (enc < 0);
          ASSERT_EQ(enc, cmp) << "type " << int(type) << " width " << width << " desc " << desc
                              << " a=" << a << " b=" << b;
        }
      }
    }
  }
  KeyDef fkey;
  KeySegment fseg;
  fseg.length = 8;
  fseg.kind = SegmentKind::kFloat;
  fkey.segments = {fseg};
  std::uniform_real_distribution<double> dist(-1e6, 1e6);
  for (int i = 0; i < 3000; ++i) {
    double a = dist(rng), b = i % 5 == 0 ? -a : dist(rng);
    if (i % 7 == 0) a = 0.0, b = -0.0;
    std::string ra(8, '\0'), rb(8, '\0'), ea, eb;
    std::memcpy(ra.data(), &a, 8);
    std::memcpy(rb.data(), &b, 8);
    EncodeSearchKey(FileSpec(), fkey, reinterpret_cast<const std::uint8_t*>(ra.data()), &ea);
    EncodeSearchKey(FileSpec(), fkey, reinterpret_cast<const std::uint8_t*>(rb.data()), &eb);
    int cmp = (a > b) - (a < b);
    int enc = ea.compare(eb);
    ASSERT_EQ((enc > 0) - (enc < 0), cmp) << a << " vs " << b;
  }
}


std::string BackendParamName(const ::testing::TestParamInfo<testing::Backend>& info) {
  return testing::BackendName(info.param);
}

INSTANTIATE_TEST_SUITE_P(Backends, KeyOrderTest,
                         ::testing::Values(testing::Backend::kSqlite, testing::Backend::kServer),
                         BackendParamName);

}  // namespace
}  // namespace kel
