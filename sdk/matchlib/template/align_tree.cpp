// Alignment trees, forests and the work list of their walks.
#include <cstdint>
#include <cstdlib>

#include "matchlib/core/allocation.h"
#include "zylscan/matchlib_align.h"
#include "zylscan/matchlib_object.h"
#include "matchlib/template/align_tree.h"
#include "matchlib/image/blob.h"
#include "matchlib/core/rigid_transform.h"

using zyl::matchlib::ml_calloc;
using zyl::matchlib::ml_malloc;

WorkItem* zyl::matchlib::worklist_push(WorkList* list, void* payload, RigidTransform* transform) {
  if (!list) return nullptr;
  auto* item = static_cast<WorkItem*>(ml_malloc(sizeof(WorkItem)));
  if (!item) return nullptr;
  *item = WorkItem{nullptr, list->last, payload, transform};
  if (list->last)
    list->last->next = item;
  else
    list->first = item;
  list->last = item;
  ++list->count;
  return item;
}

namespace zyl::matchlib {
namespace {

void* take(WorkList* list, WorkItem* item, RigidTransform** out_transform) {
  if (out_transform) *out_transform = item ? item->transform : nullptr;
  if (!item) return nullptr;
  if (item->prev)
    item->prev->next = item->next;
  else
    list->first = item->next;
  if (item->next)
    item->next->prev = item->prev;
  else
    list->last = item->prev;
  --list->count;
  void* payload = item->payload;
  std::free(item);
  return payload;
}

// Empties a work list, releasing the transforms its items carry.
void drain(WorkList* list) {
  while (list->first) {
    RigidTransform* t = nullptr;
    take(list, list->first, &t);
    zyl::matchlib::xform_release(t);
  }
}

// Visits every node breadth-first, children in list order, until fn answers
// true (that node is answered). Answers null also when the queue cannot grow
// (*status 9).
template <class Fn>
AlignTreeNode* breadth_first(AlignTreeNode* root, Fn fn, int* status) {
  *status = ML_OK;
  WorkList queue{};
  if (root && !zyl::matchlib::worklist_push(&queue, root, nullptr)) {
    *status = ML_NO_MEMORY;
    return nullptr;
  }
  while (queue.first) {
    auto* n = static_cast<AlignTreeNode*>(take(&queue, queue.first, nullptr));
    if (fn(n)) {
      drain(&queue);
      return n;
    }
    for (AlignTreeNode* c = n->first_child; c; c = c->next) {
      if (!zyl::matchlib::worklist_push(&queue, c, nullptr)) {
        drain(&queue);
        *status = ML_NO_MEMORY;
        return nullptr;
      }
    }
  }
  return nullptr;
}

void detach(AlignTreeNode* n) {
  AlignTreeNode* p = n->parent;
  if (p) {
    if (n->prev)
      n->prev->next = n->next;
    else
      p->first_child = n->next;
    if (n->next)
      n->next->prev = n->prev;
    else
      p->last_child = n->prev;
    --p->child_count;
  }
  n->next = n->prev = n->parent = nullptr;
}

void add_child_last(AlignTreeNode* parent, AlignTreeNode* n) {
  n->parent = parent;
  n->next = nullptr;
  n->prev = parent->last_child;
  if (parent->last_child)
    parent->last_child->next = n;
  else
    parent->first_child = n;
  parent->last_child = n;
  ++parent->child_count;
}

void add_child_first(AlignTreeNode* parent, AlignTreeNode* n) {
  n->parent = parent;
  n->prev = nullptr;
  n->next = parent->first_child;
  if (parent->first_child)
    parent->first_child->prev = n;
  else
    parent->last_child = n;
  parent->first_child = n;
  ++parent->child_count;
}

// Frees a subtree, children before their parents, without a work list (a
// teardown must not fail for want of memory).
void free_subtree(AlignTreeNode* root) {
  AlignTreeNode* n = root;
  while (n) {
    if (n->first_child) {
      n = n->first_child;
      continue;
    }
    AlignTreeNode* parent = n == root ? nullptr : n->parent;
    if (parent) detach(n);
    zyl::matchlib::align_tree_node_free(n);
    n = parent;
  }
}

void destroy_node(AlignNode* n) {
  zyl::matchlib::blob_release(n->blob);
  zyl::matchlib::xform_release(n->transform);
  std::free(n);
}

void destroy_tree(AlignTree* t) {
  free_subtree(t->root);
  std::free(t);
}

// Every node's owning-tree pointer, after a subtree moved to another tree.
void set_owner(AlignTreeNode* root, AlignTree* tree) {
  int status;
  breadth_first(root, [&](AlignTreeNode* n) {
    n->node->tree = tree;
    return false;
  }, &status);
  (void)status;  // owners of nodes the queue could not reach stay as they were
}

int32_t node_flag(const AlignTreeNode* n) { return zyl::matchlib::align_node_get_flag(n->node); }

struct Found {
  AlignForestItem* item = nullptr;
  AlignTreeNode* node = nullptr;
};

Found find_in_forest(AlignForest* forest, const DataBlob* blob) {
  for (AlignForestItem* it = forest->first; it; it = it->next) {
    if (AlignTreeNode* n =
            zyl::matchlib::align_tree_find(zyl::matchlib::align_tree_root_slot(it->tree), blob))
      return {it, n};
  }
  return {};
}

void forest_unlink(AlignForest* f, AlignForestItem* it) {
  if (it->prev)
    it->prev->next = it->next;
  else
    f->first = it->next;
  if (it->next)
    it->next->prev = it->prev;
  else
    f->last = it->prev;
  it->next = it->prev = nullptr;
  --f->count;
}

void forest_insert_before(AlignForest* f, AlignForestItem* at, AlignForestItem* it) {
  it->next = at;
  it->prev = at ? at->prev : f->last;
  if (it->prev)
    it->prev->next = it;
  else
    f->first = it;
  if (at)
    at->prev = it;
  else
    f->last = it;
  ++f->count;
}

int count_flagged(AlignTreeNode* root, int32_t* flagged) {
  int32_t total = 0;
  *flagged = 0;
  int status;
  breadth_first(root, [&](AlignTreeNode* n) {
    ++total;
    if (node_flag(n)) ++*flagged;
    return false;
  }, &status);
  return total;
}

}  // namespace
}  // namespace zyl::matchlib

using namespace zyl::matchlib;

extern "C" ZYL_API void* worklist_pop_front(WorkList* list, RigidTransform** out_transform) {
  return take(list, list ? list->first : nullptr, out_transform);
}

extern "C" ZYL_API void* worklist_pop_back(WorkList* list, RigidTransform** out_transform) {
  return take(list, list ? list->last : nullptr, out_transform);
}

extern "C" ZYL_API void* worklist_peek_back(const WorkList* list, RigidTransform** out_transform) {
  const WorkItem* item = list ? list->last : nullptr;
  if (out_transform) *out_transform = item ? item->transform : nullptr;
  return item ? item->payload : nullptr;
}

AlignNode* zyl::matchlib::align_node_create(DataBlob* blob, AlignTree* tree,
                                            RigidTransform* transform) {
  RigidTransform* t =
      transform ? zyl::matchlib::xform_retain(transform) : zyl::matchlib::xform_copy(nullptr);
  if (!t) return nullptr;
  auto* n = static_cast<AlignNode*>(ml_malloc(sizeof(AlignNode)));
  if (!n) {
    zyl::matchlib::xform_release(t);
    return nullptr;
  }
  *n = AlignNode{1, zyl::matchlib::blob_retain(blob), tree, t, destroy_node};
  return n;
}

extern "C" ZYL_API AlignNode* align_node_copy(const AlignNode* node) {
  if (!node) return nullptr;
  return zyl::matchlib::align_node_create(node->blob, node->tree, node->transform);
}

AlignNode* zyl::matchlib::align_node_retain(AlignNode* n) {
  if (n) ++n->refcount;
  return n;
}

void zyl::matchlib::align_node_release(AlignNode* n) {
  if (n && --n->refcount == 0 && n->destroy) n->destroy(n);
}

extern "C" ZYL_API int align_node_same(const AlignNode* a, const AlignNode* b) {
  return a && b && a->blob == b->blob && a->tree == b->tree ? 1 : 0;
}

DataBlob* zyl::matchlib::align_node_get_blob(const AlignNode* n) { return n ? n->blob : nullptr; }
extern "C" ZYL_API AlignTree* align_node_get_tree(const AlignNode* n) {
  return n ? n->tree : nullptr;
}
extern "C" ZYL_API RigidTransform* align_node_get_transform(const AlignNode* n) {
  return n ? n->transform : nullptr;
}
int32_t zyl::matchlib::align_node_get_flag(const AlignNode* n) {
  return n ? zyl::matchlib::xform_get_flag(n->transform) : 0;
}
void zyl::matchlib::align_node_toggle_flag(AlignNode* n) {
  if (n) zyl::matchlib::xform_toggle_flag(n->transform);
}
void zyl::matchlib::align_node_set_transform(AlignNode* n, RigidTransform* t) {
  if (!n) return;
  zyl::matchlib::xform_retain(t);
  zyl::matchlib::xform_release(n->transform);
  n->transform = t;
}

AlignTreeNode* zyl::matchlib::align_tree_node_create(DataBlob* blob, AlignTree* tree,
                                                     RigidTransform* transform) {
  auto* tn = static_cast<AlignTreeNode*>(ml_calloc(1, sizeof(AlignTreeNode)));
  if (!tn) return nullptr;
  tn->node = zyl::matchlib::align_node_create(blob, tree, transform);
  if (!tn->node) {
    std::free(tn);
    return nullptr;
  }
  return tn;
}

void zyl::matchlib::align_tree_node_free(AlignTreeNode* tn) {
  if (!tn) return;
  zyl::matchlib::align_node_release(tn->node);
  std::free(tn);
}

AlignTree* zyl::matchlib::align_tree_create(void) {
  auto* t = static_cast<AlignTree*>(ml_malloc(sizeof(AlignTree)));
  if (!t) return nullptr;
  *t = AlignTree{1, nullptr, destroy_tree};
  return t;
}

extern "C" ZYL_API AlignTree* align_tree_create_alt(void) {
  return zyl::matchlib::align_tree_create();
}

extern "C" ZYL_API AlignTree* align_tree_retain(AlignTree* t) {
  if (t) ++t->refcount;
  return t;
}

void zyl::matchlib::align_tree_release(AlignTree* t) {
  if (t && --t->refcount == 0 && t->destroy) t->destroy(t);
}

AlignTreeNode** zyl::matchlib::align_tree_root_slot(AlignTree* t) { return t ? &t->root : nullptr; }

int zyl::matchlib::align_tree_set_root(AlignTree* t, AlignNode* node) {
  if (!t) return ML_BAD_ARGUMENT;
  AlignTreeNode* root = nullptr;
  if (node) {
    root = static_cast<AlignTreeNode*>(ml_calloc(1, sizeof(AlignTreeNode)));
    if (!root) return ML_NO_MEMORY;
    root->node = zyl::matchlib::align_node_retain(node);
  }
  // The nodes the tree held go with it: nothing else owns them.
  free_subtree(t->root);
  t->root = root;
  return ML_OK;
}

AlignNode* zyl::matchlib::align_tree_get_root(const AlignTree* t) {
  return t && t->root ? t->root->node : nullptr;
}

int32_t zyl::matchlib::align_tree_count(const AlignTree* t) {
  if (!t) return 0;
  int32_t flagged;
  return count_flagged(t->root, &flagged);
}

AlignTreeNode* zyl::matchlib::align_tree_find(AlignTreeNode* const* slot, const DataBlob* blob) {
  if (!slot) return nullptr;
  int status;
  return breadth_first(*slot, [&](AlignTreeNode* n) { return n->node->blob == blob; }, &status);
}

int zyl::matchlib::align_tree_toggle_flags(AlignTreeNode* const* slot) {
  if (!slot) return ML_BAD_ARGUMENT;
  int status;
  breadth_first(
      *slot,
      [](AlignTreeNode* n) {
        zyl::matchlib::align_node_toggle_flag(n->node);
        return false;
      },
      &status);
  return status;
}

int zyl::matchlib::align_tree_reroot(AlignTreeNode** slot, AlignTreeNode* n) {
  if (!slot || !n || !n->parent) return ML_OK;
  // All new transforms are made first, so that a memory failure leaves the
  // tree as it was: the identity for n, then for each node up the path the
  // inverse of the transform the node below it held.
  int32_t length = 0;
  for (AlignTreeNode* p = n; p; p = p->parent) ++length;
  auto* path = static_cast<AlignTreeNode**>(ml_calloc(length, sizeof(AlignTreeNode*)));
  auto* fresh = static_cast<RigidTransform**>(ml_calloc(length, sizeof(RigidTransform*)));
  bool ok = path && fresh;
  int32_t i = 0;
  for (AlignTreeNode* p = n; ok && p; p = p->parent, ++i) {
    path[i] = p;
    fresh[i] = i == 0 ? zyl::matchlib::xform_copy(nullptr)
                      : zyl::matchlib::xform_invert(path[i - 1]->node->transform);
    if (!fresh[i]) ok = false;
  }
  if (!ok) {
    for (int32_t k = 0; fresh && k < length; ++k) zyl::matchlib::xform_release(fresh[k]);
    std::free(fresh);
    std::free(path);
    return ML_NO_MEMORY;
  }
  AlignTreeNode* handled = nullptr;
  AlignTreeNode* cur = n;
  for (i = 0; cur; ++i) {
    AlignTreeNode* parent = cur->parent;
    detach(cur);
    if (handled) add_child_last(handled, cur);
    zyl::matchlib::align_node_set_transform(cur->node, fresh[i]);
    zyl::matchlib::xform_release(fresh[i]);
    handled = cur;
    cur = parent;
  }
  std::free(fresh);
  std::free(path);
  *slot = n;
  return ML_OK;
}

int zyl::matchlib::align_tree_walk(AlignTreeNode** slot, AlignWalkCallback callback, void* user) {
  if (!slot || !*slot) return ML_OK;
  WorkList queue{};
  // The root carries the identity, so its accumulated transform is its own
  // (a root that is not the identity is not applied twice).
  RigidTransform* identity = zyl::matchlib::xform_copy(nullptr);
  if (!identity) return ML_NO_MEMORY;
  if (!zyl::matchlib::worklist_push(&queue, *slot, identity)) {
    zyl::matchlib::xform_release(identity);
    return ML_NO_MEMORY;
  }
  while (queue.first) {
    RigidTransform* carried = nullptr;
    auto* n = static_cast<AlignTreeNode*>(take(&queue, queue.first, &carried));
    // The carried transform first, then the node's own.
    RigidTransform* acc = zyl::matchlib::xform_compose(n->node->transform, carried);
    zyl::matchlib::xform_release(carried);
    if (!acc) {
      drain(&queue);
      return ML_NO_MEMORY;
    }
    if (callback && callback(slot, n, acc, user) != 0) {
      zyl::matchlib::xform_release(acc);
      drain(&queue);
      return ML_OK;
    }
    for (AlignTreeNode* c = n->first_child; c; c = c->next) {
      if (!zyl::matchlib::worklist_push(&queue, c, zyl::matchlib::xform_retain(acc))) {
        zyl::matchlib::xform_release(acc);  // the reference the failed push was to carry
        zyl::matchlib::xform_release(acc);
        drain(&queue);
        return ML_NO_MEMORY;
      }
    }
    zyl::matchlib::xform_release(acc);
  }
  return ML_OK;
}

int zyl::matchlib::align_forest_build(PairList* pairs, int majority, AlignForest* forest) {
  if (!forest) return ML_BAD_ARGUMENT;
  *forest = AlignForest{nullptr, nullptr, 0};
  for (PairListItem* item = pairs ? pairs->first : nullptr; item; item = item->next) {
    PairResult* r = item->result;
    if (!r) continue;
    DataBlob* p = r->first;
    DataBlob* g = r->second;
    RigidTransform* t = r->transform;
    const bool f = zyl::matchlib::xform_get_flag(t) != 0;
    const Found s = find_in_forest(forest, p);
    const Found e = find_in_forest(forest, g);
    if (s.node && e.node) {
      if (s.item == e.item) continue;
      AlignTreeNode* s_node = s.node;
      AlignTreeNode* e_node = e.node;
      AlignTree* g_tree = e.item->tree;
      if (zyl::matchlib::align_tree_reroot(&g_tree->root, e_node) != ML_OK) return ML_NO_MEMORY;
      // e's flag as it stands after the reroot, which gives a node that had
      // a parent the identity: the flags of G's tree are then read from e as
      // its new root.
      const bool differ = (node_flag(e_node) != 0) != (node_flag(s_node) != 0);
      forest_unlink(forest, e.item);
      if (f != differ) zyl::matchlib::align_tree_toggle_flags(&g_tree->root);
      g_tree->root = nullptr;
      set_owner(e_node, s.item->tree);
      zyl::matchlib::align_tree_release(g_tree);
      std::free(e.item);
      zyl::matchlib::align_node_set_transform(e_node->node, t);
      add_child_first(s_node, e_node);
    } else if (s.node) {
      if (node_flag(s.node)) zyl::matchlib::xform_toggle_flag(t);
      AlignTreeNode* child = zyl::matchlib::align_tree_node_create(g, s.item->tree, t);
      if (!child) return ML_NO_MEMORY;
      add_child_first(s.node, child);
    } else if (e.node) {
      if (node_flag(e.node)) zyl::matchlib::xform_toggle_flag(t);
      RigidTransform* inverse = zyl::matchlib::xform_invert(t);
      AlignTreeNode* child =
          inverse ? zyl::matchlib::align_tree_node_create(p, e.item->tree, inverse) : nullptr;
      zyl::matchlib::xform_release(inverse);
      if (!child) return ML_NO_MEMORY;
      add_child_first(e.node, child);
    } else {
      AlignTree* tree = zyl::matchlib::align_tree_create();
      AlignTreeNode* root =
          tree ? zyl::matchlib::align_tree_node_create(p, tree, nullptr) : nullptr;
      AlignTreeNode* child = root ? zyl::matchlib::align_tree_node_create(g, tree, t) : nullptr;
      auto* fi = child ? static_cast<AlignForestItem*>(ml_malloc(sizeof(AlignForestItem)))
                       : nullptr;
      if (!fi) {
        zyl::matchlib::align_tree_node_free(child);
        zyl::matchlib::align_tree_node_free(root);
        zyl::matchlib::align_tree_release(tree);
        return ML_NO_MEMORY;
      }
      tree->root = root;
      add_child_last(root, child);
      fi->tree = tree;
      forest_insert_before(forest, nullptr, fi);
    }
  }
  for (AlignForestItem* it = forest->first; it; it = it->next) {
    int32_t flagged;
    const int32_t total = count_flagged(it->tree->root, &flagged);
    const bool more_than_half = flagged * 2 > total;
    if ((majority == 0 && more_than_half) || (majority != 0 && !more_than_half))
      zyl::matchlib::align_tree_toggle_flags(&it->tree->root);
  }
  return ML_OK;
}

void zyl::matchlib::align_forest_sort(AlignForest* forest) {
  if (!forest) return;
  // Re-inserts each tree before the first tree with strictly fewer nodes;
  // works in place, so it needs no memory and cannot fail.
  AlignForestItem* pending = forest->first;
  *forest = AlignForest{nullptr, nullptr, 0};
  while (pending) {
    AlignForestItem* it = pending;
    pending = pending->next;
    const int32_t size = zyl::matchlib::align_tree_count(it->tree);
    AlignForestItem* at = forest->first;
    while (at && zyl::matchlib::align_tree_count(at->tree) >= size) at = at->next;
    forest_insert_before(forest, at, it);
  }
}

void zyl::matchlib::align_forest_clear(AlignForest* forest) {
  if (!forest) return;
  for (AlignForestItem* it = forest->first; it;) {
    AlignForestItem* next = it->next;
    zyl::matchlib::align_tree_release(it->tree);
    std::free(it);
    it = next;
  }
  *forest = AlignForest{nullptr, nullptr, 0};
}

extern "C" {

ZYL_API WorkItem* worklist_push(WorkList* list, void* payload, RigidTransform* transform) {
  return zyl::matchlib::worklist_push(list, payload, transform);
}
ZYL_API AlignNode* align_node_create(DataBlob* blob, AlignTree* tree, RigidTransform* transform) {
  return zyl::matchlib::align_node_create(blob, tree, transform);
}
ZYL_API AlignNode* align_node_retain(AlignNode* n) { return zyl::matchlib::align_node_retain(n); }
ZYL_API void align_node_release(AlignNode* n) { zyl::matchlib::align_node_release(n); }
ZYL_API DataBlob* align_node_get_blob(const AlignNode* n) {
  return zyl::matchlib::align_node_get_blob(n);
}
ZYL_API int32_t align_node_get_flag(const AlignNode* n) {
  return zyl::matchlib::align_node_get_flag(n);
}
ZYL_API void align_node_toggle_flag(AlignNode* n) { zyl::matchlib::align_node_toggle_flag(n); }
ZYL_API void align_node_set_transform(AlignNode* n, RigidTransform* t) {
  zyl::matchlib::align_node_set_transform(n, t);
}
ZYL_API AlignTreeNode* align_tree_node_create(DataBlob* blob, AlignTree* tree,
                                              RigidTransform* transform) {
  return zyl::matchlib::align_tree_node_create(blob, tree, transform);
}
ZYL_API void align_tree_node_free(AlignTreeNode* tn) { zyl::matchlib::align_tree_node_free(tn); }
ZYL_API AlignTree* align_tree_create(void) { return zyl::matchlib::align_tree_create(); }
ZYL_API void align_tree_release(AlignTree* t) { zyl::matchlib::align_tree_release(t); }
ZYL_API AlignTreeNode** align_tree_root_slot(AlignTree* t) {
  return zyl::matchlib::align_tree_root_slot(t);
}
ZYL_API int align_tree_set_root(AlignTree* t, AlignNode* node) {
  return zyl::matchlib::align_tree_set_root(t, node);
}
ZYL_API AlignNode* align_tree_get_root(const AlignTree* t) {
  return zyl::matchlib::align_tree_get_root(t);
}
ZYL_API int32_t align_tree_count(const AlignTree* t) { return zyl::matchlib::align_tree_count(t); }
ZYL_API AlignTreeNode* align_tree_find(AlignTreeNode* const* slot, const DataBlob* blob) {
  return zyl::matchlib::align_tree_find(slot, blob);
}
ZYL_API int align_tree_toggle_flags(AlignTreeNode* const* slot) {
  return zyl::matchlib::align_tree_toggle_flags(slot);
}
ZYL_API int align_tree_reroot(AlignTreeNode** slot, AlignTreeNode* n) {
  return zyl::matchlib::align_tree_reroot(slot, n);
}
ZYL_API int align_tree_walk(AlignTreeNode** slot, AlignWalkCallback callback, void* user) {
  return zyl::matchlib::align_tree_walk(slot, callback, user);
}
ZYL_API int align_forest_build(PairList* pairs, int majority, AlignForest* forest) {
  return zyl::matchlib::align_forest_build(pairs, majority, forest);
}
ZYL_API void align_forest_sort(AlignForest* forest) { zyl::matchlib::align_forest_sort(forest); }
ZYL_API void align_forest_clear(AlignForest* forest) { zyl::matchlib::align_forest_clear(forest); }

}  // extern "C"
