// The rules that turn the logging environment variables into decisions.
#include "vadu_log_env.h"

#include <gtest/gtest.h>

#include <climits>

namespace vadu::logging {
namespace {

TEST(LogLevelValue, ReadLikeScanfDecimal) {
  EXPECT_EQ(ParseLogLevel(nullptr), 2);
  EXPECT_EQ(ParseLogLevel("3"), 3);
  EXPECT_EQ(ParseLogLevel("+3"), 3);
  EXPECT_EQ(ParseLogLevel("-4"), -4);
  EXPECT_EQ(ParseLogLevel("3abc"), 3);
  EXPECT_EQ(ParseLogLevel("010"), 10);  // decimal, not octal
  EXPECT_EQ(ParseLogLevel("0x10"), 0);
  EXPECT_EQ(ParseLogLevel("info"), 2);
  EXPECT_EQ(ParseLogLevel(""), 2);
  EXPECT_EQ(ParseLogLevel("99999999999999999999"), INT_MAX);
  EXPECT_EQ(ParseLogLevel("-99999999999999999999"), INT_MIN);
}

TEST(LogTagList, ItemsAreTrimmedAndExact) {
  EXPECT_TRUE(TagListEnables(" MMAP , Model ", "MMAP"));
  EXPECT_TRUE(TagListEnables(" MMAP , Model ", "Model"));
  EXPECT_TRUE(TagListEnables("\tModel\r\n", "Model"));
  EXPECT_TRUE(TagListEnables(",,Model,", "Model"));
  EXPECT_TRUE(TagListEnables("Model", " Model\v"));  // the tag is trimmed too
  EXPECT_FALSE(TagListEnables("mmap", "MMAP"));
  EXPECT_FALSE(TagListEnables("MMAPX,XMMAP", "MMAP"));
  EXPECT_FALSE(TagListEnables("MM AP", "MMAP"));
  EXPECT_FALSE(TagListEnables(" , ", "MMAP"));
  EXPECT_FALSE(TagListEnables("MMAP", " \f "));
}

TEST(LogTagList, AllAnywhereInALongEnoughValue) {
  for (const char* value : {"all", "ALL", "small", "MMAP,all", "xALLx", "Model, all "}) {
    EXPECT_TRUE(TagListEnables(value, "Model")) << value;
    EXPECT_TRUE(TagListEnables(value, "")) << value;  // even an empty tag
  }
  for (const char* value : {"All", "aLl", "al", "a,ll"}) {
    EXPECT_FALSE(TagListEnables(value, "Model")) << value;
  }
}

}  // namespace
}  // namespace vadu::logging
