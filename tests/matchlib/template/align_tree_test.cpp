// Alignment trees, forests and the work list.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "zylscan/matchlib_align.h"
#include "zylscan/matchlib_object.h"

namespace {

struct Blobs {
  std::vector<DataBlob*> b;
  explicit Blobs(int n) {
    for (int i = 0; i < n; ++i) {
      const uint8_t tag = static_cast<uint8_t>(i);
      b.push_back(blob_create(1, &tag, 1));
    }
  }
  ~Blobs() {
    for (DataBlob* x : b) blob_release(x);
  }
  DataBlob* operator[](int i) const { return b[i]; }
};

// A ranked list of pairs (first, second, score) with pure shifts.
struct Pairs {
  PairList list{};
  void add(DataBlob* p, DataBlob* g, uint16_t score, int16_t dx, int16_t dy = 0) {
    RigidTransform* t = xform_create(dx, dy, 0);
    PairResult* r = pair_result_create(p, g, score, 1, t);
    xform_release(t);
    pair_result_list_insert(r, &list);
    pair_result_release(r);
  }
  ~Pairs() { pair_result_list_clear(&list); }
};

struct Forest {
  AlignForest f{};
  ~Forest() { align_forest_clear(&f); }
  AlignTree* tree(int i) const {
    AlignForestItem* it = f.first;
    while (i-- > 0) it = it->next;
    return it->tree;
  }
};

TEST(WorkList, QueueAndStack) {
  WorkList list{};
  int a = 1, b = 2, c = 3;
  RigidTransform* t = xform_create(1, 1, 0);
  ASSERT_NE(worklist_push(&list, &a, nullptr), nullptr);
  ASSERT_NE(worklist_push(&list, &b, t), nullptr);
  ASSERT_NE(worklist_push(&list, &c, nullptr), nullptr);
  RigidTransform* got = t;
  EXPECT_EQ(worklist_pop_front(&list, &got), &a);
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(worklist_peek_back(&list, &got), &c);
  EXPECT_EQ(list.count, 2u);
  EXPECT_EQ(worklist_pop_back(&list, nullptr), &c);
  EXPECT_EQ(worklist_pop_back(&list, &got), &b);
  EXPECT_EQ(got, t);
  EXPECT_EQ(worklist_pop_front(&list, &got), nullptr);
  EXPECT_EQ(got, nullptr);
  EXPECT_EQ(list.first, nullptr);
  EXPECT_EQ(list.last, nullptr);
  xform_release(t);
}

TEST(AlignTree, OnePairBuildsATreeOfTwo) {
  Blobs b(2);
  Pairs pairs;
  pairs.add(b[0], b[1], 100, 7);
  Forest forest;
  ASSERT_EQ(align_forest_build(&pairs.list, 0, &forest.f), ML_OK);
  ASSERT_EQ(forest.f.count, 1u);
  AlignTree* t = forest.tree(0);
  EXPECT_EQ(align_tree_count(t), 2);
  AlignNode* root = align_tree_get_root(t);
  EXPECT_EQ(align_node_get_blob(root), b[0]);
  EXPECT_EQ(align_node_get_tree(root), t);
  EXPECT_EQ(xform_get_dx(align_node_get_transform(root)), 0);
  AlignTreeNode* child = t->root->first_child;
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->parent, t->root);
  EXPECT_EQ(align_node_get_blob(child->node), b[1]);
  EXPECT_EQ(align_node_get_transform(child->node), pair_result_transform(pairs.list.first->result));
  EXPECT_EQ(align_tree_find(align_tree_root_slot(t), b[1]), child);
  EXPECT_EQ(align_tree_find(align_tree_root_slot(t), nullptr), nullptr);
}

TEST(AlignTree, SeparateTreesMergeIntoAChain) {
  Blobs b(4);
  Pairs pairs;
  pairs.add(b[0], b[1], 300, 1);
  pairs.add(b[2], b[3], 200, 10);
  pairs.add(b[1], b[2], 100, 100);
  pairs.add(b[3], b[0], 50, 5);  // already in the same tree: nothing
  Forest forest;
  ASSERT_EQ(align_forest_build(&pairs.list, 0, &forest.f), ML_OK);
  ASSERT_EQ(forest.f.count, 1u);
  AlignTree* t = forest.tree(0);
  EXPECT_EQ(align_tree_count(t), 4);
  // P1 - P2 - P3 - P4 in one chain rooted at P1.
  AlignTreeNode* n = t->root;
  for (int i = 0; i < 4; ++i) {
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(align_node_get_blob(n->node), b[i]);
    EXPECT_EQ(align_node_get_tree(n->node), t) << "moved nodes name their new tree";
    EXPECT_LE(n->child_count, 1);
    n = n->first_child;
  }
  // Walking accumulates the shifts: 0, 1, 101, 111.
  std::vector<int> offsets;
  auto collect = [](AlignTreeNode**, AlignTreeNode*, RigidTransform* acc, void* user) {
    static_cast<std::vector<int>*>(user)->push_back(xform_get_dx(acc));
    return 0;
  };
  ASSERT_EQ(align_tree_walk(align_tree_root_slot(t), collect, &offsets), ML_OK);
  EXPECT_EQ(offsets, (std::vector<int>{0, 1, 101, 111}));
}

TEST(AlignTree, WalkAppliesTheRootTransformOnce) {
  Blobs b(3);
  Pairs pairs;
  pairs.add(b[0], b[1], 10, 1);
  pairs.add(b[1], b[2], 5, 100);
  Forest forest;
  ASSERT_EQ(align_forest_build(&pairs.list, 0, &forest.f), ML_OK);
  AlignTree* t = forest.tree(0);
  // A root that is not the identity (as after giving it a shift of 10).
  RigidTransform* shift = xform_create(10, -4, 0);
  ASSERT_NE(shift, nullptr);
  align_node_set_transform(t->root->node, shift);
  xform_release(shift);
  std::vector<std::pair<int, int>> offsets;
  auto collect = [](AlignTreeNode**, AlignTreeNode*, RigidTransform* acc, void* user) {
    static_cast<std::vector<std::pair<int, int>>*>(user)->push_back(
        {xform_get_dx(acc), xform_get_dy(acc)});
    return 0;
  };
  ASSERT_EQ(align_tree_walk(align_tree_root_slot(t), collect, &offsets), ML_OK);
  EXPECT_EQ(offsets, (std::vector<std::pair<int, int>>{{10, -4}, {11, -4}, {111, -4}}));
}

TEST(AlignTree, WalkStopsWhenTheCallbackAsks) {
  Blobs b(3);
  Pairs pairs;
  pairs.add(b[0], b[1], 10, 1);
  pairs.add(b[0], b[2], 5, 2);
  Forest forest;
  ASSERT_EQ(align_forest_build(&pairs.list, 0, &forest.f), ML_OK);
  int visits = 0;
  auto stop = [](AlignTreeNode**, AlignTreeNode*, RigidTransform*, void* user) {
    ++*static_cast<int*>(user);
    return 1;
  };
  EXPECT_EQ(align_tree_walk(align_tree_root_slot(forest.tree(0)), stop, &visits), ML_OK);
  EXPECT_EQ(visits, 1);
  // The later pair became the first child.
  EXPECT_EQ(align_node_get_blob(forest.tree(0)->root->first_child->node), b[2]);
  AlignTree* empty = align_tree_create();
  EXPECT_EQ(align_tree_walk(align_tree_root_slot(empty), stop, &visits), ML_OK);
  EXPECT_EQ(visits, 1);
  EXPECT_EQ(align_tree_count(empty), 0);
  align_tree_release(empty);
}

TEST(AlignTree, RerootReversesThePath) {
  Blobs b(2);
  Pairs pairs;
  pairs.add(b[0], b[1], 10, 7, -3);
  Forest forest;
  ASSERT_EQ(align_forest_build(&pairs.list, 0, &forest.f), ML_OK);
  AlignTree* t = forest.tree(0);
  AlignTreeNode* root = t->root;
  AlignTreeNode* leaf = root->first_child;
  ASSERT_EQ(align_tree_reroot(&t->root, root), ML_OK);  // at the root: nothing
  EXPECT_EQ(t->root, root);
  ASSERT_EQ(align_tree_reroot(&t->root, leaf), ML_OK);
  EXPECT_EQ(t->root, leaf);
  EXPECT_EQ(leaf->parent, nullptr);
  EXPECT_EQ(leaf->first_child, root);
  EXPECT_EQ(root->parent, leaf);
  EXPECT_EQ(root->child_count, 0);
  EXPECT_EQ(xform_get_dx(align_node_get_transform(leaf->node)), 0);
  EXPECT_EQ(xform_get_dx(align_node_get_transform(root->node)), -7);
  EXPECT_EQ(xform_get_dy(align_node_get_transform(root->node)), 3);
}

TEST(AlignTree, FlagsFollowTheMajorityRule) {
  Blobs b(3);
  Pairs pairs;
  pairs.add(b[0], b[1], 10, 1);
  pairs.add(b[0], b[2], 5, 2);
  xform_set_flag(pair_result_transform(pairs.list.first->result), 1);
  xform_set_flag(pair_result_transform(pairs.list.last->result), 1);
  {
    Forest forest;  // two of three flagged, majority 0: every flag inverts
    ASSERT_EQ(align_forest_build(&pairs.list, 0, &forest.f), ML_OK);
    AlignTreeNode* r = forest.tree(0)->root;
    EXPECT_EQ(align_node_get_flag(r->node), 1);
    EXPECT_EQ(align_node_get_flag(r->first_child->node), 0);
    EXPECT_EQ(align_node_get_flag(r->last_child->node), 0);
  }
}

// Joining two trees reroots G's tree at e first, and then compares e's
// flag, now that of its fresh identity, with s's: here the flags match, so
// G's tree keeps its flags (C below D keeps the flag of D's old transform).
TEST(AlignTree, MergeReadsTheFlagOfTheRerootedNode) {
  Blobs b(4);  // A B C D
  Pairs pairs;
  pairs.add(b[0], b[1], 300, 1);   // A - B, flag 0
  pairs.add(b[2], b[3], 200, 10);  // C - D, flag 1
  pairs.add(b[0], b[3], 100, 5);   // A - D, flag 0: joins D's tree under A
  PairListItem* cd = pairs.list.first->next;
  xform_set_flag(pair_result_transform(cd->result), 1);
  Forest forest;
  ASSERT_EQ(align_forest_build(&pairs.list, 0, &forest.f), ML_OK);
  ASSERT_EQ(forest.f.count, 1u);
  AlignTree* t = forest.tree(0);
  ASSERT_EQ(align_tree_count(t), 4);
  struct Case {
    int blob;
    int flag;
  };
  const Case cases[] = {{0, 0}, {1, 0}, {3, 0}, {2, 1}};
  for (const Case& c : cases) {
    AlignTreeNode* n = align_tree_find(align_tree_root_slot(t), b[c.blob]);
    ASSERT_NE(n, nullptr) << c.blob;
    EXPECT_EQ(align_node_get_flag(n->node), c.flag) << "ABCD"[c.blob];
  }
  AlignTreeNode* d = align_tree_find(align_tree_root_slot(t), b[3]);
  EXPECT_EQ(d->parent, t->root);
  ASSERT_NE(d->first_child, nullptr);
  EXPECT_EQ(align_node_get_blob(d->first_child->node), b[2]);
}

TEST(AlignForest, SortsBySizeKeepingEqualSizesInOrder) {
  Blobs b(14);
  Pairs pairs;
  // Trees of sizes 2, 5, 2, 5 in list order (scores keep the order).
  uint16_t s = 1000;
  pairs.add(b[0], b[1], s--, 1);
  for (int i = 3; i < 7; ++i) pairs.add(b[2], b[i], s--, 1);
  pairs.add(b[7], b[8], s--, 1);
  for (int i = 10; i < 14; ++i) pairs.add(b[9], b[i], s--, 1);
  Forest forest;
  ASSERT_EQ(align_forest_build(&pairs.list, 0, &forest.f), ML_OK);
  ASSERT_EQ(forest.f.count, 4u);
  AlignTree* before[4] = {forest.tree(0), forest.tree(1), forest.tree(2), forest.tree(3)};
  align_forest_sort(&forest.f);
  ASSERT_EQ(forest.f.count, 4u);
  EXPECT_EQ(forest.tree(0), before[1]);
  EXPECT_EQ(forest.tree(1), before[3]);
  EXPECT_EQ(forest.tree(2), before[0]);
  EXPECT_EQ(forest.tree(3), before[2]);
  EXPECT_EQ(forest.f.last->tree, before[2]);
  EXPECT_EQ(forest.f.last->prev->tree, before[0]);
}

TEST(AlignTree, NodesAndRootsCountTheirReferences) {
  Blobs b(1);
  AlignTree* t = align_tree_create_alt();
  AlignNode* n = align_node_create(b[0], t, nullptr);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(xform_get_dx(align_node_get_transform(n)), 0);  // a fresh identity
  EXPECT_EQ(blob_refcount(b[0]), 2u);
  AlignNode* c = align_node_copy(n);
  EXPECT_EQ(align_node_same(n, c), 1);
  EXPECT_EQ(align_node_get_transform(n), align_node_get_transform(c));
  align_node_toggle_flag(c);
  EXPECT_EQ(align_node_get_flag(n), 1);  // the transform is shared
  ASSERT_EQ(align_tree_set_root(t, n), ML_OK);
  EXPECT_EQ(align_tree_get_root(t), n);
  EXPECT_EQ(n->refcount, 2);
  ASSERT_EQ(align_tree_set_root(t, c), ML_OK);  // the old root node goes
  EXPECT_EQ(n->refcount, 1);
  ASSERT_EQ(align_tree_set_root(t, nullptr), ML_OK);
  EXPECT_EQ(align_tree_get_root(t), nullptr);
  align_node_release(n);
  align_node_release(c);
  align_tree_release(t);
  EXPECT_EQ(blob_refcount(b[0]), 1u);
}

}  // namespace
