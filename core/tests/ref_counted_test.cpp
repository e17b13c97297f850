#include "core/ref_counted.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

// Counts deletions so a test can tell whether an object was deleted.
class probe final : public ref_counted_object {
 public:
  explicit probe(int* deletions) : deletions_(deletions) {}
  ~probe() override { ++*deletions_; }

 private:
  int* deletions_;
};

TEST(SmartPtr, WrappingCopyingAndReleasingCountReferences) {
  int deletions = 0;
  auto* object = new probe(&deletions);
  EXPECT_EQ(object->reference_count(), 0) << "a fresh object is not owned";
  {
    smart_ptr<probe> a(object);
    EXPECT_EQ(object->reference_count(), 1);
    {
      smart_ptr<probe> b(a);
      smart_ptr<probe> c;
      c = b;
      EXPECT_EQ(object->reference_count(), 3);
    }
    EXPECT_EQ(object->reference_count(), 1);
    EXPECT_EQ(deletions, 0);
  }
  EXPECT_EQ(deletions, 1) << "the release that reads 1 deletes";
}

TEST(SmartPtr, NullPointersReleaseNothing) {
  smart_ptr<probe> empty;
  smart_ptr<probe> other(nullptr);
  empty = other;
  empty.reset();
  EXPECT_FALSE(empty);
  EXPECT_TRUE(empty == nullptr);
}

TEST(SmartPtr, SelfAssignmentKeepsTheLastReference) {
  int deletions = 0;
  smart_ptr<probe> a(new probe(&deletions));
  smart_ptr<probe>& alias = a;
  a = alias;
  EXPECT_EQ(a->reference_count(), 1);
  EXPECT_EQ(deletions, 0);
}

TEST(SmartPtr, AssigningTheSameObjectFromAnotherPointerKeepsIt) {
  int deletions = 0;
  smart_ptr<probe> a(new probe(&deletions));
  smart_ptr<probe> b(a);
  b = a;  // drops one, adds one; a still holds the object
  EXPECT_EQ(a->reference_count(), 2);
  EXPECT_EQ(deletions, 0);
  EXPECT_TRUE(a == b);
}

TEST(SmartPtr, AssignmentReleasesTheOldObjectFirst) {
  int deletions = 0;
  smart_ptr<probe> a(new probe(&deletions));
  smart_ptr<probe> b(new probe(&deletions));
  a = b;
  EXPECT_EQ(deletions, 1);
  EXPECT_EQ(b->reference_count(), 2);
}

// A list node: the next node is held only by the one before it.
class node final : public ref_counted_object {
 public:
  explicit node(int* deletions) : deletions_(deletions) {}
  ~node() override { ++*deletions_; }
  smart_ptr<node> next;

 private:
  int* deletions_;
};

TEST(SmartPtr, AssigningFromAPointerInsideTheReleasedObjectKeepsItsTarget) {
  // `head = head->next`: releasing the old head destroys the very pointer being assigned from.
  for (const bool by_move : {false, true}) {
    int deletions = 0;
    smart_ptr<node> head(new node(&deletions));
    head->next = smart_ptr<node>(new node(&deletions));
    node* second = head->next.get();
    if (by_move) {
      head = std::move(head->next);
    } else {
      head = head->next;
    }
    EXPECT_EQ(deletions, 1) << (by_move ? "move" : "copy") << ": got " << deletions
                            << " deletions, want only the old head";
    ASSERT_EQ(head.get(), second) << (by_move ? "move" : "copy");
    EXPECT_EQ(second->reference_count(), 1) << (by_move ? "move" : "copy");
  }
}

TEST(SmartPtr, MovingTransfersTheReferenceWithoutCounting) {
  int deletions = 0;
  smart_ptr<probe> a(new probe(&deletions));
  probe* raw = a.get();
  smart_ptr<probe> b(std::move(a));
  EXPECT_FALSE(a);
  EXPECT_EQ(raw->reference_count(), 1);
  a = std::move(b);
  EXPECT_EQ(raw->reference_count(), 1);
  EXPECT_EQ(deletions, 0);
}

TEST(SmartPtr, MovingToAPointerOfABaseClassTransfersTheReferenceWithoutCounting) {
  int deletions = 0;
  smart_ptr<probe> derived(new probe(&deletions));
  probe* raw = derived.get();
  smart_ptr<ref_counted_object> base(std::move(derived));
  EXPECT_FALSE(derived) << "the source must give its reference up";
  EXPECT_EQ(base.get(), raw);
  EXPECT_EQ(raw->reference_count(), 1) << "got " << raw->reference_count() << " references, want 1";
  base.reset();
  EXPECT_EQ(deletions, 1);
}

TEST(SmartPtr, EmbeddedObjectWithPermanentOwnerReferenceIsNeverDeleted) {
  int deletions = 0;
  {
    probe embedded(&deletions);
    embedded.retain();  // the owner's permanent reference
    for (int i = 0; i < 3; ++i) {
      smart_ptr<probe> a(&embedded);
      smart_ptr<probe> b(a);
      EXPECT_EQ(embedded.reference_count(), 3);
    }
    EXPECT_EQ(embedded.reference_count(), 1);
    EXPECT_EQ(deletions, 0);
  }
  EXPECT_EQ(deletions, 1) << "destroyed by its owner, not by a release";
}

}  // namespace
}  // namespace quorvane
