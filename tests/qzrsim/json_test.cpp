// The tool's JSON writer: any byte string gives valid JSON, and nesting
// keeps its commas.
#include "tools/qzrsim/json.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using qzr::qzrsim::JsonWriter;

TEST(QzrsimJson, QuotesAnyBytes) {
  const struct {
    std::string text;
    const char* quoted;
  } cases[] = {
      {"FUJITSU", "\"FUJITSU\""},
      {"\\\\.\\scanner0", "\"\\\\\\\\.\\\\scanner0\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"line\n", "\"line\\n\""},
      {std::string("a\0b", 3), "\"a\\u0000b\""},
      {"\x1f\x7f", "\"\\u001f\\u007f\""},
      {"\xe9t\xe9", "\"\\u00e9t\\u00e9\""},  // inquiry text is not UTF-8
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.quoted);
    EXPECT_EQ(JsonWriter::quote(c.text), c.quoted);
  }
}

TEST(QzrsimJson, NestsObjectsAndArraysWithCommas) {
  JsonWriter out;
  const unsigned char sense[] = {0x70, 0, 5};
  out.begin_object()
      .key("empty")
      .begin_array()
      .end_array()
      .key("list")
      .begin_array()
      .value(1)
      .begin_object()
      .key("ok")
      .value(true)
      .key("none")
      .null()
      .end_object()
      .end_array()
      .key("sense")
      .bytes(sense, sizeof sense)
      .end_object();
  EXPECT_EQ(out.text(),
            "{\n"
            "  \"empty\": [],\n"
            "  \"list\": [\n"
            "    1,\n"
            "    {\n"
            "      \"ok\": true,\n"
            "      \"none\": null\n"
            "    }\n"
            "  ],\n"
            "  \"sense\": [112, 0, 5]\n"
            "}\n");
}

}  // namespace
