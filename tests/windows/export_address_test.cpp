// Hosts reach Quillet.dll's exports by name or by ordinal; both must lead to the same code.
#include <windows.h>

#include <cstring>
#include <set>
#include <vector>

#include "export_list.h"
#include "fake_client_test.h"
#include "quillet.h"

using ::testing::ElementsAre;

namespace {

class LoadedModuleTest : public FakeClientTest {
 protected:
  void SetUp() override {
    FakeClientTest::SetUp();
    module_ = LoadLibraryA("Quillet.dll");
    ASSERT_NE(module_, nullptr) << "the entry point refused the load, or the DLL is missing";
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  FARPROC ByOrdinal(int ordinal) const {
    return GetProcAddress(module_, MAKEINTRESOURCEA(ordinal));
  }

  HMODULE module_ = nullptr;
};

TEST_F(LoadedModuleTest, EachExportResolvesToOneAddressByNameAndByOrdinal) {
  for (const ListedExport& listed : kListedExports) {
    SCOPED_TRACE(listed.name);
    const FARPROC byName = GetProcAddress(module_, listed.name);
    EXPECT_NE(byName, nullptr);
    EXPECT_EQ(ByOrdinal(listed.ordinal), byName);
  }
}

TEST_F(LoadedModuleTest, NoOrdinalOutsideTheListResolves) {
  std::set<int> listed;
  for (const ListedExport& entry : kListedExports) listed.insert(entry.ordinal);
  for (int ordinal = 1; ordinal <= 64; ++ordinal) {
    if (listed.count(ordinal) == 0) {
      EXPECT_EQ(ByOrdinal(ordinal), nullptr) << ordinal;
    }
  }
}

TEST_F(LoadedModuleTest, AnOrdinalCalledWithTheCCallingConventionDoesItsJob) {
  // Through void (*)(): the address is the export's, whatever type GetProcAddress gives it.
  const auto createDB =
      reinterpret_cast<decltype(&CreateDB)>(reinterpret_cast<void (*)()>(ByOrdinal(2)));
  ASSERT_NE(createDB, nullptr);
  EXPECT_EQ(createDB("srv", "pw", "db"), 0);
  EXPECT_THAT(fake::Calls(),
              ElementsAre("Connect(&,srv,pw)", "CreateDatabase(7,db,0)", "Disconnect(7)"));
}

TEST_F(LoadedModuleTest, CarriesAVersionResourceWithTheProjectVersion) {
  char path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(module_, path, MAX_PATH), 0u);
  DWORD unused = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &unused);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, info.data()));

  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", &value, &length));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), QUILLET_VERSION_MAJOR);
  EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), QUILLET_VERSION_MINOR);
  EXPECT_EQ(HIWORD(fixed->dwFileVersionLS), QUILLET_VERSION_PATCH);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

  ASSERT_TRUE(
      VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\OriginalFilename", &value, &length));
  EXPECT_STREQ(static_cast<const char*>(value), "Quillet.dll");
}

}  // namespace
