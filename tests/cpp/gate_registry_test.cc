#include "circ/gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "utils/abort.h"

namespace trevalon {
namespace {

ComplexMatrix phase_gate(double theta) {
  return ComplexMatrix(2, 2, {1, 0, 0, std::polar(1.0, theta)});
}

TEST(GateRegistry, BuiltinsHaveFixedHandles) {
  EXPECT_EQ(Gate16::from_name("i")->id(), 0);
  EXPECT_EQ(Gate16::from_name("h")->id(), 1);
  EXPECT_EQ(Gate16::from_name("rz(pi/3)")->id(), 17);
  EXPECT_EQ(Gate16::from_name("rz(-pi/16)")->id(), 22);
  EXPECT_EQ(gates::SWAP().id(), 14);
  EXPECT_EQ(gates::S().adjoint(), gates::SDG());
  EXPECT_EQ(gates::H().adjoint(), gates::H());
  EXPECT_EQ(gates::CX().nqargs(), 2);
  EXPECT_EQ(Gate16::from_serialized("cx"), gates::CX());
  try {
    Gate16::from_serialized("nope");
    FAIL();
  } catch (const Abort& a) {
    EXPECT_EQ(a.message(), "Failed to deserialize Gate16 from nope");
  }
}

TEST(GateRegistry, DeduplicatesByQuantisedMatrix) {
  const Gate16 a = Gate16::create("p", {}, phase_gate(0.25));
  const Gate16 b = Gate16::create("q", {"x"}, phase_gate(0.25 + 1e-9));
  EXPECT_EQ(a, b);
  EXPECT_EQ(b.name(), "p");
  EXPECT_NE(Gate16::create("p", {}, phase_gate(0.26)), a);
}

// Worker threads read the registry without any other lock while Python
// registers gates; run under ThreadSanitizer to check the locking.
TEST(GateRegistry, ConcurrentReadersAndWriters) {
  constexpr int kReaders = 4;
  constexpr int kWrites = 200;
  std::atomic<bool> stop{false};
  std::atomic<int> failures{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < kReaders; ++t) {
    readers.emplace_back([&, t] {
      while (!stop.load(std::memory_order_relaxed)) {
        const auto h = Gate16::from_name("h");
        if (!h || h->id() != 1) ++failures;
        uint32_t rows = 0;
        gates::CX().matrix([&](const ComplexMatrix& m) { rows = m.nrows(); });
        if (rows != 4) ++failures;
        if (gates::T().adjoint() != gates::TDG()) ++failures;
        const std::size_t n = Gate16::registry_size();
        const Gate16 last(static_cast<uint16_t>(n - 1));
        if (last.nqargs() != 1 && last.nqargs() != 2) ++failures;
        if (last.adjoint().adjoint() != last && t == 0) ++failures;
      }
    });
  }
  std::vector<Gate16> made;
  for (int i = 0; i < kWrites; ++i) {
    made.push_back(Gate16::create("w", {std::to_string(i)}, phase_gate(1.0 + i * 0.001)));
  }
  stop = true;
  for (auto& r : readers) r.join();
  EXPECT_EQ(failures.load(), 0);
  for (int i = 0; i < kWrites; ++i) {
    EXPECT_EQ(made[i].display_name(), "w(" + std::to_string(i) + ")");
    EXPECT_EQ(Gate16::from_name(made[i].display_name()), made[i]);
  }
}

}  // namespace
}  // namespace trevalon
