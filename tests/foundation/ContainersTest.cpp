#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "image/AEException.h"
#include "image/Containers.h"

namespace {

template <typename Fn>
void ExpectOutOfRange(Fn fn, const char* text) {
  try {
    fn();
    ADD_FAILURE() << "no exception; expected out_of_range \"" << text << "\"";
  } catch (const std::out_of_range& e) {
    EXPECT_STREQ(e.what(), text);
  }
}

TEST(Array1D, AccessIsCheckedAtBothEndsAndWithoutStorage) {
  Array1D<int> a;
  ExpectOutOfRange([&] { a[0]; }, "Index out of Range");
  a.Resize(3, 5);
  EXPECT_EQ(a[0] + a[1] + a[2], 15);
  const Array1D<int>& c = a;
  for (int32_t i : {-1, 3}) ExpectOutOfRange([&] { c[i]; }, "Index out of Range");
  for (int32_t count : {0, -3}) {
    a.Resize(count, 9);
    EXPECT_EQ(a.Data(), nullptr);
    EXPECT_EQ(a.Size(), count);
    ExpectOutOfRange([&] { a[0]; }, "Index out of Range");
  }
}

TEST(Array1D, AssignmentIsADeepCopy) {
  Array1D<int> a, b;
  a.Resize(3, 1);
  b.Resize(10, 0);
  b = a;
  ASSERT_EQ(b.Size(), 3);
  EXPECT_NE(b.Data(), a.Data());
  b[1] = 99;
  EXPECT_EQ(a[1], 1);
  b = b;
  EXPECT_EQ(b[1], 99);
}

// The sanitizer build reports a free of stack memory if a view is ever freed.
TEST(Array1D, ViewedStorageIsNeverFreed) {
  int storage[4] = {1, 2, 3, 4};
  {
    Array1D<int> view;
    view.View(storage, 4);
    view[2] = 30;
    view.Resize(2, 8);
    EXPECT_TRUE(view.OwnsData());
    view.View(storage, 4);
    EXPECT_FALSE(view.OwnsData());
  }
  EXPECT_EQ(storage[2], 30);
}

TEST(Array2D, OnlyTheFlatIndexIsChecked) {
  Array2D<int> a;
  a.Resize(3, 2, 0);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 3; ++x) a.At(x, y) = 10 * y + x;
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
  static int destroyed;
  ~DerivedCounted() override { ++destroyed; }
};
int DerivedCounted::destroyed = 0;

TEST(Owners, ReleaseWhatTheyHoldThroughTheRightDestructor) {
  {
    AEObjectAutoPointer<Counted> object(new DerivedCounted);
    AEAutoPointer<Counted> array(new Counted[3]);
    AEObjectAutoPointer<Counted> none;
    object.Reset(new Counted);
    EXPECT_EQ(DerivedCounted::destroyed, 1);
    EXPECT_EQ(Counted::live, 4);
  }
  EXPECT_EQ(Counted::live, 0);
}

TEST(SafeStack, PagesAreCheckedAndKeepTheirAddresses) {
  SafeStack<Array1D<int>> stack;
  ExpectOutOfRange([&] { stack.Page(0); }, "index out of range");
  Array1D<int>* first = &stack.AddPage();
  first->Resize(2, 42);
  for (int i = 0; i < 20; ++i) stack.AddPage();
  EXPECT_EQ(&stack.Page(0), first);
  EXPECT_EQ(stack.Page(0)[1], 42);
  for (int32_t i : {-1, 21}) ExpectOutOfRange([&] { stack.Page(i); }, "index out of range");
}

TEST(AEException, KeepsCodeAndTheFirst254CharactersThroughCopies) {
  std::string text(300, 'x');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
  const AEException fromText(text.c_str());
  AEException assigned("short");
  assigned = AEException(4, text.c_str());
  const AEException copy(fromText);
  for (const AEException* e : {&fromText, &copy, static_cast<const AEException*>(&assigned)})
    EXPECT_EQ(std::string(e->Message()), text.substr(0, 254));
  EXPECT_EQ(copy.Code(), 1);
  EXPECT_EQ(assigned.Code(), 4);
}

}  // namespace
