// The functions of align tree that the library calls internally: the bodies
// of its exported C functions, which only forward to them.
#pragma once

#include "zylscan/matchlib_align.h"

// Bodies of exported functions, called directly inside the library.
namespace zyl::matchlib {

WorkItem* worklist_push(WorkList* list, void* payload, RigidTransform* transform);
AlignNode* align_node_create(DataBlob* blob, AlignTree* tree, RigidTransform* transform);
AlignNode* align_node_retain(AlignNode* n);
void align_node_release(AlignNode* n);
DataBlob* align_node_get_blob(const AlignNode* n);
int32_t align_node_get_flag(const AlignNode* n);
void align_node_toggle_flag(AlignNode* n);
void align_node_set_transform(AlignNode* n, RigidTransform* t);
AlignTreeNode* align_tree_node_create(DataBlob* blob, AlignTree* tree, RigidTransform* transform);
void align_tree_node_free(AlignTreeNode* tn);
AlignTree* align_tree_create(void);
void align_tree_release(AlignTree* t);
AlignTreeNode** align_tree_root_slot(AlignTree* t);
int align_tree_set_root(AlignTree* t, AlignNode* node);
AlignNode* align_tree_get_root(const AlignTree* t);
int32_t align_tree_count(const AlignTree* t);
AlignTreeNode* align_tree_find(AlignTreeNode* const* slot, const DataBlob* blob);
int align_tree_toggle_flags(AlignTreeNode* const* slot);
int align_tree_reroot(AlignTreeNode** slot, AlignTreeNode* n);
int align_tree_walk(AlignTreeNode** slot, AlignWalkCallback callback, void* user);
int align_forest_build(PairList* pairs, int majority, AlignForest* forest);
void align_forest_sort(AlignForest* forest);
void align_forest_clear(AlignForest* forest);

}  // namespace zyl::matchlib
