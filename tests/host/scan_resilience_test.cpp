// The scan under memory exhaustion and on a stack of bounded size.
#include <pthread.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "scan_fixture.h"
#include "tests/support/failing_allocator.h"

namespace {

const std::string kCs1 = "SYSTEM\\ControlSet001";
const std::string kCcs = "SYSTEM\\CurrentControlSet";

class ScanResilienceTest : public ScanTest {
 public:
  using ScanTest::PlantModem;
  using ScanTest::registry;
  using ScanTest::Scanner;
};

// A small tree with every kind of key the walk meets: modems at several depths, a key with
// values that is no modem, an alias, keys in two roots.
void PlantMixedTree(ScanResilienceTest& t) {
  t.PlantModem(kCs1 + "\\Control\\Class\\Modem\\0000", "D");
  t.PlantModem(kCs1 + "\\Control\\Class\\Modem\\0001", "a");
  t.PlantModem(kCs1 + "\\Control\\Class\\Modem\\0001\\Deeper\\Still", "A");
  t.registry.SetString(kCs1 + "\\Control\\Other", "Name", "value");
  t.registry.SetString(kCs1 + "\\Services\\Svc", "ImagePath", "x");
  t.PlantModem("SYSTEM\\ControlSet003\\M", "d");
  t.registry.AddAlias(kCcs, kCs1);
}

// With allocation N of a scan failing, for N = 0, 1, 2, ... until a scan runs untouched:
// every run leaves no key open, two lists of one length, and whole records only, each of
// which the untouched scan also makes (a failure can only lose records, never invent them).
TEST_F(ScanResilienceTest, AllocationFailureAtEveryPointLeavesAConsistentInventory) {
  PlantMixedTree(*this);
  Scan();
  const std::vector<Record> complete = Records();
  ASSERT_EQ(complete.size(), 7u);

  long point = 0;
  for (;; ++point) {
    ModemInventory partial;
    partial.CreateLists();
    ModemScanner scanner(registry, partial, nameBuffer);
    const long thrownBefore = g_failuresThrown;
    g_allocationsUntilFailure = point;
    scanner.ScanModemSettings();
    g_allocationsUntilFailure = -1;
    const bool failed = g_failuresThrown != thrownBefore;

    ASSERT_EQ(registry.OpenHandleCount(), 0u) << "failure point " << point;
    ASSERT_EQ(partial.keyPaths->GetCount(), partial.dialPrefixes->GetCount());
    std::size_t next = 0;  // records keep the untouched scan's order
    for (std::size_t i = 0; i < partial.Count(); ++i) {
      const Record r(partial.keyPaths->GetAt(i), partial.dialPrefixes->GetAt(i));
      while (next < complete.size() && complete[next] != r) ++next;
      ASSERT_LT(next, complete.size()) << "unexpected record " << r.first << " at point " << point;
      ++next;
    }
    EXPECT_EQ(partial.modemFound, partial.Count() > 0);
    if (partial.Count() > 0) {
      EXPECT_EQ(partial.normalMode, partial.dialPrefixes->GetAt(partial.Count() - 1) == "D");
    }
    if (!failed) {
      EXPECT_EQ(partial.Count(), complete.size());
      break;
    }
  }
  std::printf("[          ] allocation failure points covered: %ld\n", point);
  // The scan's own allocations (the in-memory registry reuses the entries of closed handles,
  // so after the first opens it allocates nothing more per key).
  EXPECT_GT(point, 10);
}

TEST_F(ScanResilienceTest, RecordIsAppendedWholeOrNotAtAll) {
  const std::string path = kCs1 + "\\A key path long enough to need an allocation of its own";
  for (long point = 0;; ++point) {
    ModemInventory partial;
    partial.CreateLists();
    g_allocationsUntilFailure = point;
    try {
      partial.Record(path, "D");
    } catch (const std::bad_alloc&) {
    }
    g_allocationsUntilFailure = -1;
    ASSERT_EQ(partial.keyPaths->GetCount(), partial.dialPrefixes->GetCount()) << point;
    EXPECT_EQ(partial.modemFound, partial.Count() == 1) << point;
    if (partial.Count() == 1) {
      // The path and the prefix each needed at least one allocation.
      EXPECT_GE(point, 2);
      break;
    }
  }
}

TEST_F(ScanResilienceTest, FailedCopyOfARootPathGoesOnWithTheNextRoot) {
  // The scan's first allocation is the copy of the first root's path. With it failing, nothing
  // of that root is opened, and the other two roots are walked as usual.
  PlantModem(kCcs + "\\M", "D");
  PlantModem(kCs1 + "\\M", "A");
  PlantModem("SYSTEM\\ControlSet003\\M", "D");
  const long thrownBefore = g_failuresThrown;
  g_allocationsUntilFailure = 0;
  Scan();
  g_allocationsUntilFailure = -1;
  EXPECT_EQ(g_failuresThrown, thrownBefore + 1);
  EXPECT_EQ(Records(),
            (std::vector<Record>{{kCs1 + "\\M", "A"}, {"SYSTEM\\ControlSet003\\M", "D"}}));
}

// ---- Stack use at the depth bound.

#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kStackBytes = 1024 * 1024;  // instrumented frames are several times larger
#else
constexpr std::size_t kStackBytes = 128 * 1024;  // an eighth of a 1 MB thread stack
#endif

struct CycleScan {
  ScanResilienceTest* test;
};

void* RunCycleScan(void* arg) {
  static_cast<CycleScan*>(arg)->test->Scanner().ScanModemSettings();
  return nullptr;
}

TEST_F(ScanResilienceTest, LinkCycleWalkFitsInASmallStack) {
  PlantModem(kCs1 + "\\Loop\\M", "D");
  registry.AddAlias(kCs1 + "\\Loop\\Back", kCs1 + "\\Loop");

  pthread_attr_t attributes;
  ASSERT_EQ(pthread_attr_init(&attributes), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, kStackBytes), 0);
  CycleScan arg{this};
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attributes, RunCycleScan, &arg), 0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
  pthread_attr_destroy(&attributes);
  EXPECT_TRUE(inventory.modemFound);
}

}  // namespace
