// Filling a large array straight from its source: the elements are computed from their position
// and written once, with no zero-fill pass before them.
#pragma once

#include "base/fatal.h"

#include <cstddef>
#include <iterator>
#include <vector>

// The sequence f(0), f(1), ... as a random-access range, so that the array learns its length at
// once and constructs each element in place.
template <class T, class F> struct GeneratedIterator {
  using iterator_category = std::random_access_iterator_tag;
  using value_type = T;
  using difference_type = std::ptrdiff_t;
  using pointer = const T *;
  using reference = T;

  std::size_t i;
  const F *f;

  T operator*() const { return (*f)(i); }
  T operator[](difference_type n) const { return (*f)(i + static_cast<std::size_t>(n)); }
  GeneratedIterator &operator++() {
    ++i;
    return *this;
  }
  GeneratedIterator operator++(int) {
    GeneratedIterator old = *this;
    ++i;
    return old;
  }
  GeneratedIterator &operator--() {
    --i;
    return *this;
  }
  GeneratedIterator &operator+=(difference_type n) {
    i += static_cast<std::size_t>(n);
    return *this;
  }
  GeneratedIterator &operator-=(difference_type n) {
    i -= static_cast<std::size_t>(n);
    return *this;
  }
  GeneratedIterator operator+(difference_type n) const {
    return {i + static_cast<std::size_t>(n), f};
  }
  GeneratedIterator operator-(difference_type n) const {
    return {i - static_cast<std::size_t>(n), f};
  }
  difference_type operator-(const GeneratedIterator &o) const {
    return static_cast<difference_type>(i) - static_cast<difference_type>(o.i);
  }
  bool operator==(const GeneratedIterator &o) const { return i == o.i; }
  bool operator!=(const GeneratedIterator &o) const { return i != o.i; }
  bool operator<(const GeneratedIterator &o) const { return i < o.i; }
};

// Gives `v` room for n elements and leaves it empty. An allocation that cannot be made ends the
// run with the allocation report naming the record type and the module.
template <class T>
void reserveArray(std::vector<T> &v, std::size_t n, const char *type, const char *module,
                  int line) {
  allocOrReport(
      [&] {
        std::vector<T>().swap(v);
        v.reserve(n);
      },
      type, static_cast<long long>(n), line, module);
}

// Appends f(from) ... f(to - 1) within the room reserved for them.
template <class T, class F>
void appendGenerated(std::vector<T> &v, std::size_t from, std::size_t to, const F &f) {
  v.insert(v.end(), GeneratedIterator<T, F>{from, &f}, GeneratedIterator<T, F>{to, &f});
}

// Makes `v` the n elements f(0) ... f(n - 1).
template <class T, class F>
void fillArray(std::vector<T> &v, std::size_t n, const F &f, const char *type, const char *module,
               int line) {
  reserveArray(v, n, type, module, line);
  appendGenerated(v, 0, n, f);
}

// FILL_ARRAY(vec, n, f, type, module); variadic because f is often a lambda with commas in it.
#define FILL_ARRAY(vec, n, ...) fillArray((vec), (n), __VA_ARGS__, __LINE__)
#define RESERVE_ARRAY(vec, n, type, module) reserveArray((vec), (n), (type), (module), __LINE__)
