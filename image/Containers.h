// Bounds-checked arrays, a stack of heap pages and scope owners. All storage
// comes from the global operator new, which inside the module is the host
// allocator (HostAllocator.h). Sizes are 32-bit signed like the host's.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <vector>

// Contiguous elements that the array either owns or merely views
// (ownsData false: someone else frees them).
template <typename T>
class Array1D {
 public:
  Array1D() = default;
  Array1D(const Array1D& other) { CopyFrom(other); }
  Array1D& operator=(const Array1D& other) {
    if (this != &other) {
      Release();
      CopyFrom(other);
    }
    return *this;
  }
  virtual ~Array1D() { Release(); }

  // Drops the current storage; allocates count elements set to fill when
  // count >= 1. A smaller count leaves no storage but records the count.
  void Resize(int32_t count, const T& fill) {
    Release();
    size = count;
    if (count >= 1) {
      data = new T[static_cast<size_t>(count)];
      ownsData = true;
      for (int32_t i = 0; i < count; ++i) data[i] = fill;
    }
  }

  // Views storage owned elsewhere; it is never freed by this array.
  void View(T* storage, int32_t count) {
    Release();
    data = storage;
    size = count;
    ownsData = false;
  }

  T& operator[](int32_t index) {
    if (data == nullptr || index < 0 || index >= size)
      throw std::out_of_range("Index out of Range");
    return data[index];
  }
  const T& operator[](int32_t index) const {
    if (data == nullptr || index < 0 || index >= size)
      throw std::out_of_range("Index out of Range");
    return data[index];
  }

  int32_t Size() const { return size; }
  T* Data() { return data; }
  const T* Data() const { return data; }

 private:
  void Release() {
    if (data != nullptr && ownsData) delete[] data;
    data = nullptr;
    size = 0;
    ownsData = false;
  }
  void CopyFrom(const Array1D& other) {
    size = other.size;
    if (other.size >= 1 && other.data != nullptr) {
      data = new T[static_cast<size_t>(other.size)];
      ownsData = true;
      for (int32_t i = 0; i < other.size; ++i) data[i] = other.data[i];
    }
  }

  T* data = nullptr;
  int32_t size = 0;
  bool ownsData = false;
};

// Row-major cells: element (x, y) is cell y * width + x. Only the flat index
// is checked, so an x beyond the row can reach a cell of another row.
template <typename T>
class Array2D {
 public:
  Array2D() = default;
  virtual ~Array2D() {
    width = 0;
    height = 0;
  }

  void Resize(int32_t w, int32_t h, const T& fill) {
    const int64_t count = static_cast<int64_t>(w) * h;
    if (count > INT32_MAX) throw std::bad_alloc();
    cells.Resize(count > 0 ? static_cast<int32_t>(count) : 0, fill);
    width = w;
    height = h;
  }

  // Views a foreign w x h buffer without owning it.
  void View(T* storage, int32_t w, int32_t h) {
    cells.View(storage, w * h);
    width = w;
    height = h;
  }

  T& At(int32_t x, int32_t y) { return cells[y * width + x]; }
  const T& At(int32_t x, int32_t y) const { return cells[y * width + x]; }

  int32_t Width() const { return width; }
  int32_t Height() const { return height; }
  T* Data() { return cells.Data(); }
  const T* Data() const { return cells.Data(); }
  Array1D<T>& Cells() { return cells; }

 private:
  Array1D<T> cells;
  int32_t width = 0;
  int32_t height = 0;
};

// Owner of one array made with new[].
template <typename T>
class AEAutoPointer {
 public:
  AEAutoPointer() = default;
  explicit AEAutoPointer(T* p) : pointer(p) {}
  AEAutoPointer(const AEAutoPointer&) = delete;
  AEAutoPointer& operator=(const AEAutoPointer&) = delete;
  virtual ~AEAutoPointer() {
    if (pointer != nullptr) delete[] pointer;
    pointer = nullptr;
  }
  void Reset(T* p) {
    if (pointer != nullptr) delete[] pointer;
    pointer = p;
  }
  T* Get() const { return pointer; }
  T& operator[](size_t i) const { return pointer[i]; }

 private:
  T* pointer = nullptr;
};

// Owner of one object made with new; deletes through its virtual destructor.
template <typename T>
class AEObjectAutoPointer {
 public:
  AEObjectAutoPointer() = default;
  explicit AEObjectAutoPointer(T* p) : pointer(p) {}
  AEObjectAutoPointer(const AEObjectAutoPointer&) = delete;
  AEObjectAutoPointer& operator=(const AEObjectAutoPointer&) = delete;
  virtual ~AEObjectAutoPointer() {
    delete pointer;
    pointer = nullptr;
  }
  void Reset(T* p) {
    delete pointer;
    pointer = p;
  }
  T* Get() const { return pointer; }
  T* operator->() const { return pointer; }
  T& operator*() const { return *pointer; }

 private:
  T* pointer = nullptr;
};

// Pages of records, each a heap-allocated T, freed only all together.
template <typename T>
class SafeStack {
 public:
  SafeStack() = default;
  SafeStack(const SafeStack&) = delete;
  SafeStack& operator=(const SafeStack&) = delete;
  virtual ~SafeStack() {
    for (T* page : pages) delete page;
    pages.clear();
  }

  T& AddPage() {
    if (pages.size() == pages.capacity()) {
      const size_t count = pages.size();
      pages.reserve(count + (count > 0 ? count : 1));
    }
    T* page = new T();
    pages.push_back(page);
    return *page;
  }

  T& Page(int32_t index) {
    if (index < 0 || index >= PageCount()) throw std::out_of_range("index out of range");
    return *pages[static_cast<size_t>(index)];
  }

  int32_t PageCount() const { return static_cast<int32_t>(pages.size()); }

 private:
  std::vector<T*> pages;
};
