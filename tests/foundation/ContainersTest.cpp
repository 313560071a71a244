#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "image/Containers.h"

namespace {

// Expects fn to throw std::out_of_range with exactly the given text.
template <typename Fn>
void ExpectOutOfRange(Fn fn, const char* text) {
  try {
    fn();
    ADD_FAILURE() << "no exception; expected out_of_range \"" << text << "\"";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), text);
  }
}

TEST(Array1D, CountsBelowOneLeaveNoStorageButKeepTheCount) {
  for (int32_t count : {0, -3}) {
    SCOPED_TRACE(count);
    Array1D<int> a;
    a.Resize(4, 7);
    a.Resize(count, 9);
    EXPECT_EQ(a.Data(), nullptr);
    EXPECT_EQ(a.Size(), count);
    ExpectOutOfRange([&] { a[0]; }, "Index out of Range");
  }
}

TEST(Array1D, AccessIsCheckedAtBothEnds) {
  Array1D<int> a;
  ExpectOutOfRange([&] { a[0]; }, "Index out of Range");
  a.Resize(3, 5);
  EXPECT_EQ(a[0] + a[1] + a[2], 15);
  ExpectOutOfRange([&] { a[-1]; }, "Index out of Range");
  ExpectOutOfRange([&] { a[3]; }, "Index out of Range");
  const Array1D<int>& c = a;
  ExpectOutOfRange([&] { c[3]; }, "Index out of Range");
}

TEST(Array1D, AssignmentIsADeepCopy) {
  Array1D<int> a;
  a.Resize(3, 1);
  a[1] = 2;
  Array1D<int> b;
  b.Resize(10, 0);
  b = a;
  ASSERT_EQ(b.Size(), 3);
  EXPECT_NE(b.Data(), a.Data());
  EXPECT_TRUE(b.OwnsData());
  b[1] = 99;
  EXPECT_EQ(a[1], 2);
  EXPECT_EQ(b[0], 1);

  Array1D<int> empty;
  b = empty;
  EXPECT_EQ(b.Data(), nullptr);
  EXPECT_EQ(b.Size(), 0);
  b = b;
  EXPECT_EQ(b.Size(), 0);
}

// Foreign storage must survive Resize and destruction of a viewing array
// (the sanitizer build reports a free of stack memory otherwise).
TEST(Array1D, ViewedStorageIsNeverFreed) {
  int storage[4] = {1, 2, 3, 4};
  {
    Array1D<int> view;
    view.View(storage, 4);
    EXPECT_FALSE(view.OwnsData());
    view[2] = 30;
    view.Resize(2, 8);  // drops the view, allocates its own
    EXPECT_TRUE(view.OwnsData());
    view.View(storage, 4);
  }
  EXPECT_EQ(storage[2], 30);
  EXPECT_EQ(storage[3], 4);
}

TEST(Array2D, ZeroAreaKeepsItsShapeWithoutCells) {
  Array2D<int> a;
  a.Resize(5, 0, 1);
  EXPECT_EQ(a.Width(), 5);
  EXPECT_EQ(a.Height(), 0);
  EXPECT_EQ(a.Data(), nullptr);
  ExpectOutOfRange([&] { a.At(0, 0); }, "Index out of Range");
}

TEST(Array2D, OnlyTheFlatIndexIsChecked) {
  Array2D<int> a;
  a.Resize(3, 2, 0);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x) a.At(x, y) = 10 * y + x;
  // x = 3 on row 0 is cell 3, the first of row 1.
  EXPECT_EQ(a.At(3, 0), 10);
  EXPECT_EQ(a.At(-1, 1), 2);
  ExpectOutOfRange([&] { a.At(0, 2); }, "Index out of Range");
  ExpectOutOfRange([&] { a.At(-1, 0); }, "Index out of Range");
}

struct Counted {
  static int live;
  Counted() { ++live; }
  virtual ~Counted() { --live; }
};
int Counted::live = 0;
struct DerivedCounted : Counted {
  static int derivedDestroyed;
  ~DerivedCounted() override { ++derivedDestroyed; }
};
int DerivedCounted::derivedDestroyed = 0;

TEST(Owners, ReleaseWhatTheyHoldThroughTheRightDestructor) {
  Counted::live = 0;
  DerivedCounted::derivedDestroyed = 0;
  {
    AEObjectAutoPointer<Counted> object(new DerivedCounted);
    AEAutoPointer<Counted> array(new Counted[3]);
    AEObjectAutoPointer<Counted> none;
    EXPECT_EQ(Counted::live, 4);
    object.Reset(new Counted);
    EXPECT_EQ(DerivedCounted::derivedDestroyed, 1);
    EXPECT_EQ(Counted::live, 4);
  }
  EXPECT_EQ(Counted::live, 0);
}

TEST(SafeStack, PagesAreCheckedAndKeepTheirAddresses) {
  SafeStack<Array1D<int>> stack;
  EXPECT_EQ(stack.PageCount(), 0);
  ExpectOutOfRange([&] { stack.Page(0); }, "index out of range");
  Array1D<int>* first = &stack.AddPage();
  first->Resize(2, 42);
  for (int i = 0; i < 20; ++i) stack.AddPage();
  EXPECT_EQ(stack.PageCount(), 21);
  EXPECT_EQ(&stack.Page(0), first);
  EXPECT_EQ(stack.Page(0)[1], 42);
  EXPECT_EQ(stack.Page(20).Size(), 0);
  ExpectOutOfRange([&] { stack.Page(stack.PageCount()); }, "index out of range");
  ExpectOutOfRange([&] { stack.Page(-1); }, "index out of range");
}

}  // namespace
