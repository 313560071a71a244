#include <gtest/gtest.h>

#include <string>

#include "image/AEException.h"

namespace {

TEST(AEException, KeepsTheFirst254CharactersOfALongMessage) {
  std::string text(300, 'x');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
  const AEException fromText(text.c_str());
  const AEException withCode(4, text.c_str());
  const AEException copy(fromText);
  AEException assignedTo("short");
  assignedTo = withCode;
  const AEException& assigned = assignedTo;
  for (const AEException* e : {&fromText, &withCode, &copy, &assigned}) {
    EXPECT_EQ(std::string(e->Message()), text.substr(0, 254));
  }
  EXPECT_EQ(fromText.Code(), 1);
  EXPECT_EQ(withCode.Code(), 4);
  EXPECT_EQ(copy.Code(), 1);
  EXPECT_EQ(assigned.Code(), 4);
}

TEST(SuiteNotFound, CarriesCode13AndKeepsItThroughCopiesAndCatches) {
  try {
    throw SuiteNotFound();
  } catch (const AEException& e) {
    EXPECT_EQ(e.Code(), 13);
    EXPECT_STREQ(e.Message(), "Suite not found");
  }
  const SuiteNotFound original;
  const SuiteNotFound copy(original);
  EXPECT_EQ(copy.Code(), 13);
  EXPECT_STREQ(copy.Message(), "Suite not found");
}

}  // namespace
