#include "search/quartz.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "nlohmann/json.hpp"
#include "utils/abort.h"
#include "utils/record_error.h"

namespace trevalon {
namespace {

namespace fs = std::filesystem;

Permut32 perm(std::vector<uint8_t> entries) { return Permut32::from_iter(entries); }
Instr32 h(uint8_t q) { return Instr32(gates::H(), QArgs16(q, 255)); }
Instr32 cx(uint8_t a, uint8_t b) { return Instr32(gates::CX(), QArgs16(a, b)); }

// A two-circuit class: the empty circuit and h(q) h(q), identity permutations.
ECC hh_class(uint8_t n, uint8_t q) {
  return ECC({{{}, Permut32::identity(n)}, {{h(q), h(q)}, Permut32::identity(n)}});
}
ECC single_class(uint8_t n) { return ECC({{{h(0)}, Permut32::identity(n)}}); }

TEST(Quartz, WorkedExample) {
  const ECCs eccs({hh_class(1, 0), single_class(1)}, 1);
  const std::string expected =
      R"([[[0],[0]],{"0_0":[[[1,0],[]],[[1,2],[["h",["Q0"],["Q0"]],["h",["Q0"],["Q0"]]]]]}])";
  ASSERT_EQ(expected.size(), 82u);
  EXPECT_EQ(as_quartz(eccs), expected);
}

TEST(Quartz, NothingToExport) {
  EXPECT_EQ(as_quartz(ECCs({single_class(2), single_class(2)}, 2)), "[[[0],[0]],{}]");
  EXPECT_EQ(as_quartz(ECCs({}, 2)), "[[[0],[0]],{}]");
}

TEST(Quartz, KeysAreHexAndSortedAsBytes) {
  std::vector<ECC> classes(27, single_class(1));
  for (std::size_t k : {1, 9, 10, 16, 26}) classes[k] = hh_class(1, 0);
  const nlohmann::ordered_json doc = nlohmann::ordered_json::parse(as_quartz(ECCs(classes, 1)));
  std::vector<std::string> keys;
  for (const auto& [key, value] : doc[1].items()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"10_0", "1_0", "1a_0", "9_0", "a_0"}));
}

TEST(Quartz, OneVariantPerDistinctPermutation) {
  const Permut32 p = perm({0, 1}), r = perm({1, 0});
  const ECC ecc({{{cx(0, 1)}, p}, {{cx(0, 1), h(1)}, p}, {{h(0)}, r}});
  const std::vector<QuartzVariant> variants = generate_ecc_with_swap(ecc);
  ASSERT_EQ(variants.size(), 2u);
  const Instr32 swap01(gates::SWAP(), QArgs16(0, 1));
  EXPECT_EQ(variants[0], (QuartzVariant{{cx(0, 1)}, {cx(0, 1), h(1)}, {h(0), swap01}}));
  EXPECT_EQ(variants[1], (QuartzVariant{{cx(0, 1), swap01}, {cx(0, 1), h(1), swap01}, {h(0)}}));
  EXPECT_EQ(variants[0], ecc.circuits());

  const std::string doc = as_quartz(ECCs({single_class(2), ecc}, 2));
  EXPECT_NE(doc.find(R"("1_0":[[[2,1],[["cx",["Q0","Q1"],["Q0","Q1"]]]],)"), std::string::npos) << doc;
  EXPECT_NE(doc.find(R"("1_1":)"), std::string::npos);
  EXPECT_NE(doc.find(R"([[2,2],[["h",["Q0"],["Q0"]],["swap",["Q0","Q1"],["Q0","Q1"]]]])"), std::string::npos);
}

TEST(Quartz, WidthIsPerCircuitAndArgumentOrderIsKept) {
  const ECC ecc({{{h(2)}, Permut32::identity(3)}, {{cx(1, 0)}, Permut32::identity(3)}});
  EXPECT_EQ(as_quartz(ECCs({ecc}, 3)),
            R"([[[0],[0]],{"0_0":[[[3,1],[["h",["Q2"],["Q2"]]]],[[2,1],[["cx",["Q1","Q0"],["Q1","Q0"]]]]]}])");
}

TEST(Quartz, StringsAreEscaped) {
  ComplexMatrix m = Gate16::from_name("x")->matrix_copy();
  m(0, 0) = {0.6, 0.0};
  m(0, 1) = {0.8, 0.0};
  m(1, 0) = {0.8, 0.0};
  m(1, 1) = {-0.6, 0.0};
  const Gate16 g = Gate16::create("q\"\\\n\x01\xC3\xA9", {}, m);
  const ECC ecc({{{}, Permut32::identity(1)}, {{Instr32(g, QArgs16(0, 255))}, Permut32::identity(1)}});
  const std::string doc = as_quartz(ECCs({ecc}, 1));
  EXPECT_NE(doc.find(R"(["q\"\\\n\u0001)" "\xC3\xA9" R"(",["Q0"],["Q0"]])"), std::string::npos) << doc;
}

TEST(Quartz, MalformedClassesAbortBeforeAnythingIsBuilt) {
  const std::vector<ECCs> bad = {
      ECCs({ECC()}, 1),                                             // empty class
      ECCs({ECC({{{h(1)}, Permut32::identity(1)}, {{}, Permut32::identity(1)}})}, 1),  // qubit beyond
      ECCs({ECC({{{}, Permut32::from_raw(0x01000001)}, {{}, Permut32::identity(1)}})}, 1),  // not a perm
      ECCs({ECC({{{}, Permut32::identity(2)}, {{}, Permut32::identity(2)}})}, 1),  // wider than nqubits
      ECCs({ECC({{{}, Permut32::from_raw(0x09000000)}, {{}, Permut32::from_raw(0x09000000)}})}, 8),
      ECCs({ECC({{{}, Permut32::identity(1)}, {{}, Permut32::identity(2)}})}, 2),  // mixed lengths
  };
  for (const ECCs& e : bad) EXPECT_THROW(as_quartz(e), Abort) << e.nqubits();
}

TEST(Quartz, DumpReplacesTheFileOnlyOnSuccess) {
  const fs::path dir = fs::temp_directory_path() / ("quartz_test_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string p = (dir / "out.json").string();
  auto read = [&] {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  std::ofstream(p) << "old";
  EXPECT_THROW(dump_quartz(ECCs({ECC()}, 1), p), Abort);
  EXPECT_EQ(read(), "old");
  dump_quartz(ECCs({hh_class(1, 0)}, 1), p);
  EXPECT_EQ(read(), as_quartz(ECCs({hh_class(1, 0)}, 1)));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  try {
    dump_quartz(ECCs({}, 1), (dir / "missing" / "x.json").string());
    ADD_FAILURE();
  } catch (const RecordError& e) {
    EXPECT_STREQ(e.what(), "Failed to create file: No such file or directory (os error 2)");
  }
  try {
    dump_quartz(ECCs({}, 1), "/dev/full");
    ADD_FAILURE();
  } catch (const RecordError& e) {
    EXPECT_STREQ(e.what(), "Failed to write JSON: No space left on device (os error 28)");
  }
  fs::remove_all(dir);
}

}  // namespace
}  // namespace trevalon
