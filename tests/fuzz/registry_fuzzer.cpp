// The registry's value files under ROOT/.platform/registry, read the ways the
// stores read a value: the size alone, into a DWORD, and into a buffer of
// exactly the size the registry reports.
//
// A value file holds the type (4 bytes, little-endian) and then the data; a
// shorter file is no value. A read must report the type and data as they are
// and never write past the buffer it was given (AddressSanitizer watches the
// heap buffers used here).
#include <cstring>
#include <memory>

#include "fuzz_support.h"

namespace {

LONG Query(HKEY key, DWORD* type, BYTE* data, DWORD* cbData) {
  return RegQueryValueExW(key, msgstore_fuzz::kAccountIdValue, nullptr, type, data, cbData);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  msgstore_fuzz::UseScratchRoot("registry");
  HKEY key = nullptr;
  FUZZ_CHECK(RegCreateKeyExW(HKEY_LOCAL_MACHINE, msgstore_fuzz::kAccountsKey, 0, nullptr,
                             REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                             nullptr) == ERROR_SUCCESS);
  DWORD zero = 0;
  FUZZ_CHECK(RegSetValueExW(key, msgstore_fuzz::kAccountIdValue, 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&zero), sizeof zero) == ERROR_SUCCESS);
  RegCloseKey(key);
  // The harness replaces the value's file directly: make sure it is where
  // the registry keeps it.
  std::string stored;
  FUZZ_CHECK(msgstore_fuzz::GetHostFile(msgstore_fuzz::AccountIdValueFile(), &stored));
  FUZZ_CHECK(stored == std::string("\x04\0\0\0\0\0\0\0", 8));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  msgstore_fuzz::PutHostFile(msgstore_fuzz::AccountIdValueFile(), data, size);
  HKEY key = nullptr;
  FUZZ_CHECK(RegOpenKeyExW(HKEY_LOCAL_MACHINE, msgstore_fuzz::kAccountsKey, 0, KEY_QUERY_VALUE,
                           &key) == ERROR_SUCCESS);

  DWORD type = 0xFFFFFFFF;
  DWORD cbData = 0xFFFFFFFF;
  LONG sized = Query(key, &type, nullptr, &cbData);
  if (size < 4) {
    FUZZ_CHECK(sized == ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
    return 0;
  }
  const size_t valueSize = size - 4;
  FUZZ_CHECK(sized == ERROR_SUCCESS && type == msgstore_fuzz::LoadU32(data) && cbData == valueSize);

  // As a counter is read: a DWORD's room.
  auto dword = std::make_unique<BYTE[]>(sizeof(DWORD));
  cbData = sizeof(DWORD);
  LONG small = Query(key, nullptr, dword.get(), &cbData);
  FUZZ_CHECK(cbData == valueSize);
  if (valueSize > sizeof(DWORD)) {
    FUZZ_CHECK(small == ERROR_MORE_DATA);
  } else {
    FUZZ_CHECK(small == ERROR_SUCCESS && std::memcmp(dword.get(), data + 4, valueSize) == 0);
  }

  // Into exactly the room the registry asked for.
  auto exact = std::make_unique<BYTE[]>(valueSize);  // new[] of 0 is a valid, empty block
  cbData = static_cast<DWORD>(valueSize);
  FUZZ_CHECK(Query(key, &type, exact.get(), &cbData) == ERROR_SUCCESS);
  FUZZ_CHECK(cbData == valueSize && std::memcmp(exact.get(), data + 4, valueSize) == 0);

  FUZZ_CHECK(RegCloseKey(key) == ERROR_SUCCESS);
  return 0;
}
