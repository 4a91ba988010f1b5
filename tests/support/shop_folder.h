// A fresh shop for one test: a temporary program folder holding the empty
// shop tables, and the shop's context, handed to what the test runs.
//
// As a fixture: derive from ShopTest and use shop() (the context) and shop_
// (the folder).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "store/shop_context.h"
#include "store/table_schema.h"
#include "support/temp_dir.h"

namespace autodeliver::testing {

class ShopFolder {
 public:
  // `withTables`: make the empty shop tables too (else the folder is empty).
  explicit ShopFolder(bool withTables = true);
  // The empty shop tables in `layout`.
  explicit ShopFolder(TableLayout layout);
  ShopFolder(const ShopFolder&) = delete;
  ShopFolder& operator=(const ShopFolder&) = delete;
  ~ShopFolder();

  // False when the folder or its tables could not be made; then error()
  // says what failed.
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  const std::string& path() const { return dir_.path(); }
  std::string operator/(const std::string& name) const { return dir_ / name; }
  ShopContext& context() { return context_; }

 private:
  TempDir dir_;
  ShopContext context_;
  bool ok_ = false;
  std::string error_;
};

class ShopTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(shop_.ok()) << shop_.error(); }
  ShopContext& shop() { return shop_.context(); }

  ShopFolder shop_;
};

}  // namespace autodeliver::testing
