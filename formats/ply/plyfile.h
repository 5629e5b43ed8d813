// plyfile: reads PLY polygon files. The header becomes element and property descriptions; the
// caller says which properties it wants and where in its own records they go, reads each element's
// instances in header order, and everything it did not ask for is kept as "other" properties or
// "other" elements. Reading only; single-threaded (one shared parse state per stream).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// Type codes of property values in the file and of fields in the caller's records.
enum PlyTypeCode {
  kPlyInvalid = 0,
  kPlyChar = 1,
  kPlyShort = 2,
  kPlyInt = 3,
  kPlyUchar = 4,
  kPlyUshort = 5,
  kPlyUint = 6,
  kPlyFloat = 7,
  kPlyDouble = 8,
};

// File types, from the header's format line.
enum PlyFileType {
  kPlyAscii = 1,
  kPlyBinaryBE = 2,
  kPlyBinaryLE = 3,
};

// The code of a type word (0 when it names no type) and the size of a type code (0 for 0).
int ply_type_code(const std::string &word);
int ply_type_size(int code);

struct PlyPropertyDesc {
  std::string name;
  int external_type = 0;  // in the file (for a list: of each item)
  int internal_type = 0;  // in the caller's record
  int offset = 0;         // of the field (for a list: of the item-array pointer)
  int is_list = 0;        // 1 list, 0 scalar
  int count_external = 0; // list count's type in the file
  int count_internal = 0; // list count's type in the record
  int count_offset = 0;   // of the list count in the record
};

struct PlyElementDesc {
  std::string name;
  int num = 0; // instances, as the header declares
  std::vector<PlyPropertyDesc> props;
  std::vector<char> store_prop;   // 1 where the caller asked for the property
  std::vector<char> other_placed; // 1 where the property has a field in the other block
  int other_offset = -1; // where the caller's record keeps the other-block pointer, -1 none
  int other_size = 0;    // bytes of the other block
  unsigned long long min_bytes = 0; // the fewest bytes of data one instance can take
  int nprops() const { return static_cast<int>(props.size()); }
};

// The properties of an element that the caller did not ask for.
struct PlyOtherProps {
  std::string name;
  int size = 0; // bytes of one instance's block
  std::vector<PlyPropertyDesc> props;
  int nprops() const { return static_cast<int>(props.size()); }
};

// Large zero-filled blocks taken straight from the system and backed by huge pages where the
// system offers them: a million-face object then costs a few dozen page faults, not tens of
// thousands. Small sizes come from calloc. ply_big_alloc gives none when memory is short.
void *ply_big_alloc(std::size_t bytes);
void ply_big_free(void *p, std::size_t bytes);

// A zero-filled array of plain records in one such block.
template <class T> class PlyRecords {
public:
  PlyRecords() = default;
  PlyRecords(const PlyRecords &) = delete;
  PlyRecords &operator=(const PlyRecords &) = delete;
  ~PlyRecords() { release(); }
  // Sizes the array to n zeroed records; false when the memory cannot be had.
  bool assign(std::size_t n) {
    release();
    if (n == 0) return true;
    if (n > SIZE_MAX / sizeof(T)) return false;
    data_ = static_cast<T *>(ply_big_alloc(n * sizeof(T)));
    if (!data_) return false;
    size_ = n;
    return true;
  }
  void release() {
    if (data_) ply_big_free(data_, size_ * sizeof(T));
    data_ = nullptr;
    size_ = 0;
  }
  std::size_t size() const { return size_; }
  T &operator[](std::size_t i) { return data_[i]; }
  const T &operator[](std::size_t i) const { return data_[i]; }
  T *begin() { return data_; }
  T *end() { return data_ + size_; }

private:
  T *data_ = nullptr;
  std::size_t size_ = 0;
};

// Memory the library hands to the caller: list item arrays and other-property blocks are carved
// from large zero-filled chunks rather than allocated one by one (a million faces would otherwise
// cost a million allocations). Whoever holds a reference keeps every block alive.
class PlyArena {
public:
  PlyArena() = default;
  PlyArena(const PlyArena &) = delete;
  PlyArena &operator=(const PlyArena &) = delete;
  ~PlyArena();
  // Zeroed, aligned to `align` (a power of two up to 8); throws std::bad_alloc.
  void *alloc(std::size_t bytes, std::size_t align = 8) {
    std::size_t pad =
        static_cast<std::size_t>(0 - reinterpret_cast<uintptr_t>(next_)) & (align - 1);
    std::size_t need = pad + (bytes ? bytes : 1);
    if (need > left_) return refill(bytes);
    void *p = next_ + pad;
    next_ += need;
    left_ -= need;
    total_ += need;
    return p;
  }
  std::size_t bytes() const { return total_; }

private:
  void *refill(std::size_t bytes);
  struct Chunk {
    char *data;
    std::size_t size;
  };
  std::vector<Chunk> chunks_;
  char *next_ = nullptr;
  std::size_t left_ = 0;
  std::size_t total_ = 0;
};

// One instance of an element set aside whole: its only field is the block pointer.
struct PlyOtherData {
  void *other_props = nullptr;
};

struct PlyOtherElement {
  std::string elem_name;
  int elem_count = 0;
  // One record per instance; an element without properties keeps nothing, so it has none (its
  // count may be anything, as no data stands behind it).
  std::vector<PlyOtherData> other_data;
  std::unique_ptr<PlyOtherProps> other_props;
};

struct PlyOtherElementList {
  std::vector<PlyOtherElement> other_list;
  std::shared_ptr<PlyArena> storage; // holds the instances' blocks
  int num_elems() const { return static_cast<int>(other_list.size()); }
};

// Buffered input over the stream: the whole rest of the file is known in size before anything
// is allocated for it, so no count can ask for more than the file holds.
struct PlyInput {
  FILE *fp = nullptr;
  std::vector<char> buf;
  std::size_t pos = 0, end = 0;
  bool at_eof = false;
  unsigned long long consumed = 0; // bytes before buf[0]
  unsigned long long total = 0;    // bytes of the whole input
  long line = 0;                   // lines read so far (for messages)
  std::string name;                // the file's name for messages, "" when not given
  char eol = '\n';                 // what ends a line: a lone CR in files from old Mac tools
  unsigned long long left() const { return total - consumed - pos; }
};

struct PlyReadPlan; // how one element's instances are read, worked out once

struct PlyStream {
  FILE *fp = nullptr; // closed by ply_close_file or when the stream record goes
  int file_type = 0;
  float version = 0;
  std::vector<PlyElementDesc> elems;
  std::unordered_map<std::string, int> elem_index; // name -> position in elems
  std::vector<std::string> comments;
  std::vector<std::string> obj_info;
  int which_elem = -1; // the element that ply_get_element reads
  std::shared_ptr<PlyOtherElementList> other_elems;
  std::shared_ptr<PlyArena> storage;
  PlyInput in;
  std::vector<std::unique_ptr<PlyReadPlan>> plans; // one per element, none until first read
  int nelems() const { return static_cast<int>(elems.size()); }
  ~PlyStream();
};

// Reads the header of `fp`. Returns none when fp is none or the header is not one this library
// reads (the reason is then ply_header_error(); "" when the file does not begin with "ply"). On
// success the stream owns fp.
std::unique_ptr<PlyStream> ply_read_header(FILE *fp, int *nelems,
                                           std::vector<std::string> *elem_names);
const std::string &ply_header_error();

void ply_file_info(PlyStream *plyfile, float *version, int *file_type);

// Copies of the element's property descriptions; false when there is no such element.
bool ply_element_description(PlyStream *plyfile, const std::string &elem_name, int *nelems,
                             int *nprops, std::vector<PlyPropertyDesc> *props);

void ply_request_property(PlyStream *plyfile, const std::string &elem_name,
                          const PlyPropertyDesc &desc);

std::unique_ptr<PlyOtherProps> ply_get_other_properties(PlyStream *plyfile,
                                                        const std::string &elem_name, int offset);

// Lays out the unrequested properties' block for a host with `pointer_size`-byte pointers and
// returns its size (ply_get_other_properties uses this host's pointer size).
int ply_layout_other_props(PlyElementDesc &elem, int pointer_size);

// Names the file in the messages for binary data that ends early (ascii data ending early keeps the
// library's own message).
void ply_set_file_name(PlyStream *plyfile, const std::string &name);

// To be called before making room for `count` instances of the current element. Returns when the
// unread data could hold them; when it cannot, the count lies, and the instances are read on
// without being stored until the data gives out, which ends the run with the message that reading
// them would have given.
void ply_check_elements(PlyStream *plyfile, int count);

void ply_get_element(PlyStream *plyfile, void *elem_ptr);
// The same as ply_get_element on each of `count` records lying `stride` bytes apart, faster.
void ply_get_elements(PlyStream *plyfile, void *first, std::size_t stride, std::size_t count);

std::shared_ptr<PlyOtherElementList>
ply_get_other_element(PlyStream *plyfile, const std::string &elem_name, int elem_count);

// The memory that item arrays and other blocks read so far live in; keep it while using them.
std::shared_ptr<PlyArena> ply_get_storage(PlyStream *plyfile);

// These hand the lists over: they belong to the caller and outlive the stream.
std::vector<std::string> ply_comments(PlyStream *plyfile, int *num_comments);
std::vector<std::string> ply_obj_info(PlyStream *plyfile, int *num_obj_info);

void ply_close_file(std::unique_ptr<PlyStream> plyfile);
