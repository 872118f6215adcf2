#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "search/ecc_records.h"
#include "search/search.h"
#include "utils/abort.h"
#include "utils/record_error.h"

namespace trevalon {
namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;

constexpr const char* kEnd = "Failed to read postcard data: Hit the end of buffer, expected more data";
constexpr const char* kVarint = "Failed to read postcard data: Found a varint that didn't terminate";
constexpr const char* kUtf8 = "Failed to read postcard data: Tried to parse invalid utf-8";

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The message of the RecordError that `f` throws, or "" when it throws none.
template <class F>
std::string record_error_of(F&& f) {
  try {
    f();
  } catch (const RecordError& e) {
    return e.what();
  }
  return "";
}

template <class F>
std::string abort_of(F&& f) {
  try {
    f();
  } catch (const Abort& e) {
    return e.what();
  }
  return "";
}

ECCs decode(const Bytes& b) { return eccs_from_bytes(b); }

ECCs generated(uint32_t n, std::size_t size) {
  Rng64 rng = Rng64::from_seed(5 + n);
  const Evaluator ev = Evaluator::from_random(n, rng);
  const std::vector<Gate16> gates = {gates::H(), gates::T(), gates::CX()};
  return generate(ev, gates, size).map.simplify();
}

const Permut32 kId1 = Permut32::from_raw(0x01000000);

class RecordFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("record_codec_test_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  static std::string read_file(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void write_file(const std::string& p, const std::string& contents) {
    std::ofstream(p, std::ios::binary) << contents;
  }
  std::vector<std::string> entries() const {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }

  fs::path dir_;
};

TEST(RecordCodec, WorkedExampleBytes) {
  const Instr32 x0(gates::X(), QArgs16(0, 255));
  const ECCs eccs({ECC({{{}, kId1}, {{x0, x0}, kId1}})}, 1);
  const Bytes expected = {0x01, 0x02, 0x00, 0x80, 0x80, 0x80, 0x08, 0x02, 0x01, 0x78, 0x00,
                          0xFF, 0x01, 0x78, 0x00, 0xFF, 0x80, 0x80, 0x80, 0x08, 0x01};
  EXPECT_EQ(bytes_of(eccs_to_bytes(eccs)), expected);
  EXPECT_EQ(decode(expected), eccs);
  Bytes trailing = expected;
  trailing.push_back(0x55);
  EXPECT_EQ(decode(trailing), eccs);
  EXPECT_EQ(bytes_of(eccs_to_bytes(ECCs({}, 3))), (Bytes{0x00, 0x03}));
}

TEST(RecordCodec, ParametrisedGateIsWrittenByDisplayForm) {
  const Gate16 rz = *Gate16::from_name("rz(pi/3)");
  const ECCs eccs({ECC({{{Instr32(rz, QArgs16(0, 255))}, kId1}})}, 1);
  const std::string b = eccs_to_bytes(eccs);
  EXPECT_NE(b.find("\x08rz(pi/3)"), std::string::npos);
  EXPECT_EQ(decode(bytes_of(b)), eccs);
}

TEST(RecordCodec, VarintEncodingAndLimits) {
  struct Case {
    uint64_t value;
    Bytes bytes;
  };
  const std::vector<Case> cases = {
      {0, {0x00}},
      {127, {0x7F}},
      {128, {0x80, 0x01}},
      {300, {0xAC, 0x02}},
      {0xFFFFFFFFu, {0xFF, 0xFF, 0xFF, 0xFF, 0x0F}},
      {UINT64_MAX, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}},
  };
  for (const Case& c : cases) {
    std::string out;
    RecordWriter w(&out);
    w.varint(c.value);
    w.flush();
    EXPECT_EQ(bytes_of(out), c.bytes) << c.value;
    RecordReader r(c.bytes);
    EXPECT_EQ(r.varint64(), c.value);
    if (c.value <= UINT32_MAX) {
      RecordReader r32(c.bytes);
      EXPECT_EQ(r32.varint32(), c.value);
    }
  }
  const std::vector<Bytes> bad32 = {{0xFF, 0xFF, 0xFF, 0xFF, 0x10}, {0x80, 0x80, 0x80, 0x80, 0x80, 0x00}};
  for (const Bytes& b : bad32) {
    EXPECT_EQ(record_error_of([&] { RecordReader(b).varint32(); }), kVarint);
  }
  const Bytes bad64 = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02};
  EXPECT_EQ(record_error_of([&] { RecordReader(bad64).varint64(); }), kVarint);
  // A redundant zero group is still a value.
  EXPECT_EQ(RecordReader(Bytes{0x80, 0x00}).varint32(), 0u);
}

TEST(RecordCodec, HugeCountWithNothingBehindFailsAtOnce) {
  // 2^32 - 1 classes promised, none present.
  EXPECT_EQ(record_error_of([] { decode({0xFF, 0xFF, 0xFF, 0xFF, 0x0F}); }), kEnd);
  // One class promising 2^32 - 1 pairs, then one instruction list promising as many.
  EXPECT_EQ(record_error_of([] { decode({0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}); }),
            kEnd);
}

TEST(RecordCodec, TextLimits) {
  auto text_record = [](const std::string& s) {
    std::string out;
    RecordWriter w(&out);
    w.text(s);
    w.flush();
    return bytes_of(out);
  };
  const std::string longest(RecordReader::kScratchSize, 'a');
  EXPECT_EQ(RecordReader(text_record(longest)).text(), longest);
  // The writer refuses a longer text, so build that record by hand: the
  // varint 8193, then the bytes.
  Bytes overlong = {0x81, 0x40};
  overlong.insert(overlong.end(), RecordReader::kScratchSize + 1, 'a');
  EXPECT_EQ(record_error_of([&] { RecordReader(overlong).text(); }), kEnd);
  EXPECT_EQ(record_error_of([&] { text_record(longest + "a"); }),
            "Failed to write postcard data: a text of 8193 bytes is longer than the 8192 bytes a reader accepts");
  EXPECT_EQ(record_error_of([&] { RecordReader(Bytes{0x03, 'a', 'b'}).text(); }), kEnd);

  const std::vector<std::string> invalid = {
      "\x80", "\xC0\x80", "\xE0\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80", "a\xC3",
  };
  for (const std::string& s : invalid) {
    EXPECT_EQ(record_error_of([&] { RecordReader(text_record(s)).text(); }), kUtf8) << s;
  }
  const std::vector<std::string> valid = {"", "h", "\xC3\xA9", "u\xE2\x80\xA0", "\xF0\x9F\x98\x80", "\xEF\xBF\xBF"};
  for (const std::string& s : valid) EXPECT_EQ(RecordReader(text_record(s)).text(), s);
}

TEST(RecordCodec, TruncationAtEveryOffsetFailsCleanly) {
  const Bytes full = bytes_of(eccs_to_bytes(generated(2, 2)));
  for (std::size_t n = 0; n < full.size(); ++n) {
    const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_EQ(record_error_of([&] { decode(cut); }), kEnd) << n;
  }
}

TEST(RecordCodec, UnknownGateAborts) {
  const Bytes b = {0x01, 0x01, 0x01, 0x03, 'f', 'o', 'o', 0x00, 0xFF, 0x80, 0x80, 0x80, 0x08, 0x01};
  EXPECT_EQ(abort_of([&] { decode(b); }), "Failed to deserialize Gate16 from foo");
}

TEST(RecordCodec, NqubitsBeyondTheWordIsADecodeError) {
  const Bytes b = {0x00, 0x80, 0x80, 0x80, 0x80, 0x10};
  EXPECT_NE(record_error_of([&] { decode(b); }).find("Failed to read postcard data: "), std::string::npos);
}

TEST(RecordCodec, CircuitRecordsRoundTrip) {
  const Circ c = Circ::create({Instr32(gates::CX(), QArgs16(1, 0)), Instr32(gates::H(), QArgs16(2, 255))},
                              Permut32::from_raw(0x03000000 | 1 | (0 << 3) | (2 << 6)));
  std::string out;
  RecordWriter w(&out);
  write_circ(w, c);
  write_identity_circ(w, IdentityCirc::create(c.instrs(), c.perm()));
  w.flush();
  const Bytes bytes = bytes_of(out);
  RecordReader r(bytes);
  GateNameCache gates;
  EXPECT_EQ(read_circ(r, gates), c);
  EXPECT_EQ(read_identity_circ(r, gates).circ(), c);
  // An identity record is exactly its circuit's.
  EXPECT_EQ(out.substr(0, out.size() / 2), out.substr(out.size() / 2));
}

TEST(RecordCodec, CircuitRecordsRefuseBrokenInvariants) {
  // h on qubit 3 with a one-qubit permutation; a word that is not a permutation.
  const std::vector<Bytes> bad = {
      {0x01, 0x01, 'h', 0x03, 0xFF, 0x80, 0x80, 0x80, 0x08},
      {0x00, 0x81, 0x80, 0x80, 0x08},
  };
  for (const Bytes& b : bad) {
    GateNameCache gates;
    EXPECT_NE(abort_of([&] { RecordReader r(b); read_circ(r, gates); }), "");
  }
}

TEST(RecordCodec, GeneratedCollectionsRoundTripThroughFiles) {
  const std::string p = (fs::temp_directory_path() / ("record_codec_rt_" + std::to_string(::getpid()))).string();
  for (uint32_t n = 1; n <= 3; ++n) {
    const ECCs eccs = generated(n, n == 3 ? 3 : 4);
    ASSERT_GT(eccs.size(), 1u);
    save_eccs(eccs, p);
    EXPECT_EQ(load_eccs(p), eccs);
  }
  std::remove(p.c_str());
}

TEST_F(RecordFiles, LargeFileCrossesBufferBoundaries) {
  // Many long gate texts make texts straddle the 8192-byte read buffer.
  std::vector<ECC> classes;
  const Gate16 rz = *Gate16::from_name("rz(pi/3)");
  for (int i = 0; i < 3000; ++i) {
    classes.push_back(ECC({{{Instr32(rz, QArgs16(0, 255)), Instr32(gates::CX(), QArgs16(0, 1))},
                            Permut32::from_raw(0x02000000 | static_cast<uint32_t>(i % 2) | ((1 - i % 2) << 3))}}));
  }
  const ECCs eccs(std::move(classes), 2);
  save_eccs(eccs, path("big"));
  EXPECT_GT(fs::file_size(path("big")), 4 * RecordWriter::kBufferSize);
  EXPECT_EQ(read_file(path("big")), eccs_to_bytes(eccs));
  EXPECT_EQ(load_eccs(path("big")), eccs);
}

TEST_F(RecordFiles, FileErrors) {
  EXPECT_EQ(record_error_of([&] { load_eccs(path("missing")); }),
            "Failed to open file: No such file or directory (os error 2)");
  EXPECT_EQ(record_error_of([&] { save_eccs(ECCs({}, 1), path("no/such/dir")); }),
            "Failed to create file: No such file or directory (os error 2)");
  EXPECT_EQ(record_error_of([&] { save_eccs(ECCs({}, 1), dir_.string()); }),
            "Failed to create file: Is a directory (os error 21)");
  EXPECT_EQ(record_error_of([&] { load_eccs(std::string("a\0b", 3)); }),
            "Failed to open file: Invalid argument (os error 22)");
  EXPECT_EQ(record_error_of([&] { save_eccs(ECCs({}, 1), path(std::string("a\0b", 3))); }),
            "Failed to create file: Invalid argument (os error 22)");
  // Reading a directory fails as a read, so as the end of the data.
  EXPECT_EQ(record_error_of([&] { load_eccs(dir_.string()); }), kEnd);
  EXPECT_EQ(record_error_of([] { save_eccs(ECCs({}, 1), "/dev/full"); }),
            "Failed to write postcard data: The serialize buffer is full");
  EXPECT_EQ(entries(), std::vector<std::string>{});
}

TEST_F(RecordFiles, FailedSaveKeepsTheOldFile) {
  write_file(path("f"), "old contents");
  ::chmod(path("f").c_str(), 0640);
  EXPECT_THROW(save_record_file(path("f"),
                                [](RecordWriter& w) {
                                  for (int i = 0; i < 20000; ++i) w.varint(1u << 20);
                                  abort_with("stop");
                                }),
               Abort);
  EXPECT_EQ(read_file(path("f")), "old contents");
  EXPECT_EQ(entries(), std::vector<std::string>{"f"});

  save_eccs(ECCs({}, 3), path("f"));
  EXPECT_EQ(read_file(path("f")), std::string("\x00\x03", 2));
  EXPECT_EQ(fs::status(path("f")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(entries(), std::vector<std::string>{"f"});
}

TEST_F(RecordFiles, SaveThroughSymlinkReplacesItsTarget) {
  write_file(path("real"), "old");
  fs::create_symlink(path("real"), path("link"));
  save_eccs(ECCs({}, 2), path("link"));
  EXPECT_TRUE(fs::is_symlink(path("link")));
  EXPECT_EQ(read_file(path("real")), std::string("\x00\x02", 2));
}

}  // namespace
}  // namespace trevalon
