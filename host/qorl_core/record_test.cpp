#include "qorl_core/record.hpp"

#include <gtest/gtest.h>

namespace qorl_core {
namespace {

struct Inner : Record<Inner> {
  double at = 0;
  std::optional<std::string> note;
  static const Schema<Inner>& schema() {
    static const Schema<Inner> s{"Inner",
                                 {field("at", &Inner::at).required(), field("note", &Inner::note)}};
    return s;
  }
};

struct Outer : Record<Outer> {
  std::string name;
  std::int64_t count = 7;
  std::vector<std::string> tags;
  Map extra;
  std::vector<Inner> items;
  bool checked = false;

  void after_validation() { checked = true; }

  static const Schema<Outer>& schema() {
    static const Schema<Outer> s{
        "Outer",
        {field("name", &Outer::name).required().prepared_by([](const Value& v) -> Value {
           if (v.is_none()) return "unnamed";
           if (v == Value("bad")) throw ValueError("name is bad");
           if (v == Value("type")) throw TypeError("wrong kind entirely");
           return v;
         }),
         field("count", &Outer::count), field("tags", &Outer::tags), field("extra", &Outer::extra),
         field("items", &Outer::items)}};
    return s;
  }
};

ValidationError validation_error_of(const Options& options) {
  try {
    Outer::from_options(options);
  } catch (const ValidationError& error) {
    return error;
  }
  ADD_FAILURE() << "no ValidationError";
  return ValidationError("none", {});
}

TEST(RecordTest, CollectsEveryFailingFieldInFieldOrder) {
  const auto error = validation_error_of({{"count", "many"}, {"tags", "not-a-list"}});
  ASSERT_EQ(error.errors().size(), 3u);
  EXPECT_EQ(error.errors()[0].field, "name");
  EXPECT_EQ(error.errors()[0].message, "Field required");
  EXPECT_EQ(error.errors()[1].field, "count");
  EXPECT_EQ(error.errors()[2].field, "tags");
  EXPECT_NE(std::string(error.what()).find("3 validation errors for Outer"), std::string::npos);
}

TEST(RecordTest, IgnoresUnknownNamesAndKeepsFreshDefaults) {
  auto a = Outer::from_options({{"name", "a"}, {"unknown", 1}});
  auto b = Outer::from_options({{"name", "b"}});
  a.tags.push_back("x");
  a.extra.set("k", 1);
  EXPECT_TRUE(b.tags.empty());
  EXPECT_TRUE(b.extra.empty());
  EXPECT_EQ(b.count, 7);
  EXPECT_TRUE(b.checked);
}

TEST(RecordTest, PreparationStepsRunOnGivenValuesOnly) {
  EXPECT_EQ(Outer::from_options({{"name", Value()}}).name, "unnamed");
  const auto error = validation_error_of({{"name", "bad"}});
  ASSERT_EQ(error.errors().size(), 1u);
  EXPECT_EQ(error.errors()[0].message, "name is bad");
  EXPECT_THROW(Outer::from_options({{"name", "type"}}), TypeError);
}

TEST(RecordTest, NumbersAreLenientOnlyWhereItIsSafe) {
  EXPECT_EQ(Outer::from_options({{"name", "n"}, {"count", "5"}}).count, 5);
  EXPECT_EQ(Outer::from_options({{"name", "n"}, {"count", 5.0}}).count, 5);
  EXPECT_TRUE(validation_error_of({{"name", "n"}, {"count", 5.5}}).names("count"));
  EXPECT_TRUE(validation_error_of({{"name", "n"}, {"count", true}}).names("count"));
  EXPECT_TRUE(validation_error_of({{"name", "n"}, {"count", Value()}}).names("count"));
  EXPECT_TRUE(validation_error_of({{"name", 3}}).names("name"));

  auto inner = Inner::from_options({{"at", 2}});
  EXPECT_DOUBLE_EQ(inner.at, 2.0);
  EXPECT_DOUBLE_EQ(Inner::from_options({{"at", " 1.5 "}}).at, 1.5);
  EXPECT_THROW(Inner::from_options({{"at", "soon"}}), ValidationError);
  EXPECT_THROW(Inner::from_options({{"at", false}}), ValidationError);
}

TEST(RecordTest, NestedRecordsFromMapsAndNestedFailurePaths) {
  auto outer = Outer::from_options(
      {{"name", "n"},
       {"items", List{Map{{"at", 1}, {"ignored", 0}}, Map{{"at", 2.5}, {"note", "x"}}}}});
  ASSERT_EQ(outer.items.size(), 2u);
  EXPECT_EQ(outer.items[1].note, "x");

  const auto error =
      validation_error_of({{"name", "n"}, {"items", List{Map{{"at", 1}}, Map{{"note", 3}}}}});
  ASSERT_EQ(error.errors().size(), 2u);
  EXPECT_EQ(error.errors()[0].field, "items.1.at");
  EXPECT_EQ(error.errors()[1].field, "items.1.note");
}

TEST(RecordTest, ToMapFollowsFieldOrderWithNestedMaps) {
  auto outer = Outer::from_options({{"name", "n"}, {"items", List{Map{{"at", 1}}}}});
  const Options map = outer.to_map();
  EXPECT_EQ(map.keys(), (std::vector<std::string>{"name", "count", "tags", "extra", "items"}));
  const auto& item = map.at("items").as_list().at(0).as_map();
  EXPECT_EQ(item.keys(), (std::vector<std::string>{"at", "note"}));
  EXPECT_TRUE(item.at("at").is_double());
  EXPECT_TRUE(item.at("note").is_none());
}

}  // namespace
}  // namespace qorl_core
