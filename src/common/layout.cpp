// Writing and reading message files by their layout tables.
#include "common/layout.h"

#include <cstdlib>
#include <cstring>

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

void WriteLayout(FieldWriter& w, const Layout& layout, const tagMSGPROPS& msg, const void* store) {
  long placeholders[kSlots] = {-1, -1, -1, -1};
  for (size_t i = 0; i < layout.count; ++i) {
    const LayoutField& f = layout.fields[i];
    const void* record = f.record == RecordKind::kMsg ? static_cast<const void*>(&msg) : store;
    switch (f.kind) {
      case FieldKind::kU16:
        w.U16(Get<WORD>(record, f.at));
        break;
      case FieldKind::kU32:
        w.U32(Get<DWORD>(record, f.at));
        break;
      case FieldKind::kFileTime:
        w.FileTime(Get<FILETIME>(record, f.at));
        break;
      case FieldKind::kString:
        w.String(Get<const WCHAR*>(record, f.at));
        break;
      case FieldKind::kOffset:
        if (f.at < kSlots) placeholders[f.at] = w.Placeholder();
        break;
      case FieldKind::kPatchHere:
        if (f.at < kSlots) w.PatchHere(placeholders[f.at]);
        break;
      case FieldKind::kQuickEnd:
        break;
      case FieldKind::kContent:
        w.U32(msg.cbData);
        w.Bytes(msg.pData, msg.cbData);
        break;
    }
  }
}

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

int WriteLayoutFile(const WCHAR* path, const Layout& layout, const tagMSGPROPS& msg,
                    const void* store) {
  ReplacingStream stream(path);
  if (!stream) return 0;
  FieldWriter w(stream.get());
  WriteLayout(w, layout, msg, store);
  return 1;
}

bool ReadLayoutImage(const std::vector<uint8_t>& image, const Layout& layout, ReadExtent extent,
                     tagMSGPROPS* msg, void* store) {
  FieldReader r(image.data(), image.size());
  return ReadLayout(r, layout, extent, msg, store);
}

}  // namespace msgstore
