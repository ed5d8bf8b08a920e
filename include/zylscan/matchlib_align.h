/* Matcher library alignment trees: impressions of one finger grouped into
 * trees whose nodes hold a template blob and the transform relating it to
 * the parent node, so that a walk from the root places every impression in
 * the root's frame; unconnected groups form a forest. A small work list
 * serves the breadth-first (queue) and depth-first (stack) walks. */
#pragma once

#include <stdint.h>

#include "zylscan/matchlib_blob.h"
#include "zylscan/matchlib_result.h"
#include "zylscan/matchlib_xform.h"
#include "zylscan/zyl_export.h"

ZYL_EXTERN_C_BEGIN

typedef struct WorkItem {
  struct WorkItem* next;
  struct WorkItem* prev;
  void* payload;
  RigidTransform* transform;
} WorkItem;

typedef struct WorkList {
  WorkItem* first;
  WorkItem* last;
  uint32_t count;
} WorkList;

/* The list never retains or releases the transforms it carries: a pop hands
 * the slot's pointer to the caller. */
ZYL_API WorkItem* worklist_push(WorkList* list, void* payload, RigidTransform* transform);
ZYL_API void* worklist_pop_front(WorkList* list, RigidTransform** out_transform);
ZYL_API void* worklist_pop_back(WorkList* list, RigidTransform** out_transform);
ZYL_API void* worklist_peek_back(const WorkList* list, RigidTransform** out_transform);

typedef struct AlignTree AlignTree;
typedef struct AlignNode AlignNode;
struct AlignNode {
  int32_t refcount;
  DataBlob* blob;            /* retained */
  AlignTree* tree;           /* not retained */
  RigidTransform* transform; /* relates the node to its parent; retained */
  void (*destroy)(AlignNode* node);
};

typedef struct AlignTreeNode {
  struct AlignTreeNode* next; /* siblings */
  struct AlignTreeNode* prev;
  struct AlignTreeNode* first_child;
  struct AlignTreeNode* last_child;
  int32_t child_count;
  struct AlignTreeNode* parent;
  AlignNode* node; /* one reference */
} AlignTreeNode;

struct AlignTree {
  int32_t refcount;
  AlignTreeNode* root;
  void (*destroy)(AlignTree* tree);
};

typedef struct AlignForestItem {
  struct AlignForestItem* next;
  struct AlignForestItem* prev;
  AlignTree* tree; /* one reference */
} AlignForestItem;

typedef struct AlignForest {
  AlignForestItem* first;
  AlignForestItem* last;
  uint32_t count;
} AlignForest;

/* Callback of a walk: a non-zero answer stops the walk. */
typedef int (*AlignWalkCallback)(AlignTreeNode** root_slot, AlignTreeNode* node,
                                 RigidTransform* accumulated, void* user);

ZYL_API AlignNode* align_node_create(DataBlob* blob, AlignTree* tree, RigidTransform* transform);
ZYL_API AlignNode* align_node_copy(const AlignNode* node);
ZYL_API AlignNode* align_node_retain(AlignNode* node);
ZYL_API void align_node_release(AlignNode* node);
ZYL_API int align_node_same(const AlignNode* a, const AlignNode* b);
ZYL_API DataBlob* align_node_get_blob(const AlignNode* node);
ZYL_API AlignTree* align_node_get_tree(const AlignNode* node);
ZYL_API RigidTransform* align_node_get_transform(const AlignNode* node);
ZYL_API int32_t align_node_get_flag(const AlignNode* node);
ZYL_API void align_node_toggle_flag(AlignNode* node);
ZYL_API void align_node_set_transform(AlignNode* node, RigidTransform* transform);

ZYL_API AlignTreeNode* align_tree_node_create(DataBlob* blob, AlignTree* tree,
                                              RigidTransform* transform);
ZYL_API void align_tree_node_free(AlignTreeNode* node);

ZYL_API AlignTree* align_tree_create(void);
ZYL_API AlignTree* align_tree_create_alt(void);
ZYL_API AlignTree* align_tree_retain(AlignTree* tree);
ZYL_API void align_tree_release(AlignTree* tree);
ZYL_API AlignTreeNode** align_tree_root_slot(AlignTree* tree);
/* Replaces the tree's nodes by one root holding the node (null: empty). */
ZYL_API int align_tree_set_root(AlignTree* tree, AlignNode* node);
ZYL_API AlignNode* align_tree_get_root(const AlignTree* tree);
ZYL_API int32_t align_tree_count(const AlignTree* tree);
ZYL_API AlignTreeNode* align_tree_find(AlignTreeNode* const* root_slot, const DataBlob* blob);
ZYL_API int align_tree_toggle_flags(AlignTreeNode* const* root_slot);
/* 0; 9 when a transform cannot be made (the tree unchanged). */
ZYL_API int align_tree_reroot(AlignTreeNode** root_slot, AlignTreeNode* node);
ZYL_API int align_tree_walk(AlignTreeNode** root_slot, AlignWalkCallback callback, void* user);

ZYL_API int align_forest_build(PairList* pairs, int majority, AlignForest* forest);
ZYL_API void align_forest_sort(AlignForest* forest);
ZYL_API void align_forest_clear(AlignForest* forest);

ZYL_EXTERN_C_END
