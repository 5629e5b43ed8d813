// The PLY library on any bytes: every element is either read into a caller record (its first
// property requested, the rest set aside) or set aside whole; a message may end the read, nothing
// may fault or read outside the data.
#include "formats/ply/plyfile.h"
#include "fuzz_support.h"

#include <cstring>

namespace {

volatile int32_t sink;

struct Record {
  int32_t count;
  int32_t pad;
  void *items;
  double value;
  char spare[32];
  void *other;
};

void ReadAll(PlyStream *ply, const std::vector<std::string> &names) {
  for (std::size_t e = 0; e < names.size(); ++e) {
    int n = 0, nprops = 0;
    std::vector<PlyPropertyDesc> props;
    if (!ply_element_description(ply, names[e], &n, &nprops, &props)) __builtin_trap();
    if (e % 2 == 1 || props.empty()) {
      std::shared_ptr<PlyOtherElementList> list = ply_get_other_element(ply, names[e], n);
      if (!list || list->other_list.back().elem_count != n) __builtin_trap();
      continue;
    }
    PlyPropertyDesc want = props[0];
    if (want.is_list) {
      want.internal_type = kPlyInt;
      want.offset = offsetof(Record, items);
      want.count_internal = kPlyInt;
      want.count_offset = offsetof(Record, count);
    } else {
      want.internal_type = kPlyDouble;
      want.offset = offsetof(Record, value);
    }
    ply_request_property(ply, names[e], want);
    std::unique_ptr<PlyOtherProps> other =
        ply_get_other_properties(ply, names[e], offsetof(Record, other));
    ply_check_elements(ply, n);
    std::vector<Record> records(static_cast<std::size_t>(n));
    for (Record &r : records) {
      ply_get_element(ply, &r);
      if (want.is_list && r.count > 0) {
        // Every item the count promises must be there to read.
        for (int32_t k = 0; k < r.count; ++k) sink = static_cast<int32_t *>(r.items)[k];
      }
      if (r.other && other && other->size > 0) {
        sink = static_cast<char *>(r.other)[other->size - 1];
      }
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzWriteObject("fuzz.ply", data, size);
  FILE *f = std::fopen((FuzzDir() + "/fuzz.ply").c_str(), "rb");
  if (!f) return 0;
  int nelems = 0;
  std::vector<std::string> names;
  std::unique_ptr<PlyStream> ply = ply_read_header(f, &nelems, &names);
  if (!ply) {
    std::fclose(f);
    return 0;
  }
  try {
    ReadAll(ply.get(), names);
    int n;
    ply_comments(ply.get(), &n);
    ply_obj_info(ply.get(), &n);
  } catch (const FatalError &) {
  }
  ply_close_file(std::move(ply));
  return 0;
}
