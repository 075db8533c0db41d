// Writing and reading message files by their layout tables.
#include "common/layout.h"

#include <cstdlib>
#include <cstring>

#include "common/msg_file.h"
#include "common/replace_file.h"

namespace msgstore {
namespace {

constexpr size_t kSlots = 4;

template <class T>
T Get(const void* record, uint16_t at) {
  T value;
  std::memcpy(&value, static_cast<const uint8_t*>(record) + at, sizeof value);
  return value;
}

template <class T>
void Set(void* record, uint16_t at, T value) {
  std::memcpy(static_cast<uint8_t*>(record) + at, &value, sizeof value);
}

}  // namespace

bool ReadLayout(FieldReader& r, const Layout& layout, ReadExtent extent, tagMSGPROPS* msg,
                void* store) {
  for (size_t i = 0; i < layout.count; ++i) {
    const LayoutField& f = layout.fields[i];
    void* record = f.record == RecordKind::kMsg ? static_cast<void*>(msg) : store;
    bool ok = true;
    switch (f.kind) {
      case FieldKind::kU16: {
        WORD v = 0;
        if ((ok = r.U16(&v))) Set(record, f.at, v);
        break;
      }
      case FieldKind::kU32: {
        DWORD v = 0;
        if ((ok = r.U32(&v))) Set(record, f.at, v);
        break;
      }
      case FieldKind::kFileTime: {
        FILETIME v{};
        if ((ok = r.FileTime(&v))) Set(record, f.at, v);
        break;
      }
      case FieldKind::kString: {
        WCHAR* s = Get<WCHAR*>(record, f.at);
        ok = r.String(&s);
        Set(record, f.at, s);
        break;
      }
      case FieldKind::kOffset:
        ok = r.Skip(4);
        break;
      case FieldKind::kPatchHere:
        break;
      case FieldKind::kQuickEnd:
        if (extent == ReadExtent::kQuick) return true;
        break;
      case FieldKind::kContent:
        if (extent == ReadExtent::kWithBody) return r.Content(&msg->cbData, &msg->pData);
        std::free(msg->pData);
        msg->pData = nullptr;
        msg->cbData = 0;
        break;
    }
    if (!ok) return false;
  }
  return true;
}

std::vector<uint8_t> EncodeLayout(const Layout& layout, const tagMSGPROPS& msg, const void* store) {
  std::vector<uint8_t> image;
  size_t placeholders[kSlots] = {};
  auto put = [&image](const uint8_t* bytes, size_t n) {
    image.insert(image.end(), bytes, bytes + n);
  };
  auto u16 = [&](WORD v) {
    uint8_t b[2];
    EncodeU16(b, v);
    put(b, 2);
  };
  auto u32 = [&](DWORD v) {
    uint8_t b[4];
    EncodeU32(b, v);
    put(b, 4);
  };
  for (size_t i = 0; i < layout.count; ++i) {
    const LayoutField& f = layout.fields[i];
    const void* record = f.record == RecordKind::kMsg ? static_cast<const void*>(&msg) : store;
    switch (f.kind) {
      case FieldKind::kU16:
        u16(Get<WORD>(record, f.at));
        break;
      case FieldKind::kU32:
        u32(Get<DWORD>(record, f.at));
        break;
      case FieldKind::kFileTime: {
        const FILETIME t = Get<FILETIME>(record, f.at);
        u32(t.dwLowDateTime);
        u32(t.dwHighDateTime);
        break;
      }
      case FieldKind::kString:
        // A null string is stored as its terminator alone.
        for (const WCHAR* p = Get<const WCHAR*>(record, f.at); p != nullptr && *p != 0; ++p)
          u16(*p);
        u16(0);
        break;
      case FieldKind::kOffset:
        if (f.at < kSlots) placeholders[f.at] = image.size();
        u32(0);
        break;
      case FieldKind::kPatchHere:
        if (f.at < kSlots) EncodeU32(&image[placeholders[f.at]], static_cast<DWORD>(image.size()));
        break;
      case FieldKind::kQuickEnd:
        break;
      case FieldKind::kContent:
        u32(msg.cbData);
        // Content without its block is left out, as a failed write of it
        // would leave it.
        if (msg.pData != nullptr) put(msg.pData, msg.cbData);
        break;
    }
  }
  return image;
}

int WriteLayoutFile(const WCHAR* path, const Layout& layout, const tagMSGPROPS& msg,
                    const void* store) {
  ReplacingStream stream(path);
  if (!stream) return 0;
  // No other process sees the file before it is complete, so it goes out in
  // one write.
  const std::vector<uint8_t> image = EncodeLayout(layout, msg, store);
  if (MsgFile_Write(image.data(), static_cast<DWORD>(image.size()), 1, stream.get()) != 1)
    return 0;  // the stream drops the temporary file
  return stream.Commit() ? 1 : 0;
}

bool ReadLayoutImage(const std::vector<uint8_t>& image, const Layout& layout, ReadExtent extent,
                     tagMSGPROPS* msg, void* store) {
  FieldReader r(image.data(), image.size());
  return ReadLayout(r, layout, extent, msg, store);
}

}  // namespace msgstore
