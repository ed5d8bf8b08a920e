// Doubly linked lists of the library's plain records: a head with first
// (newest), last (oldest) and count, nodes with next (towards older) and
// prev (towards newer). The context's attachments and the parameter
// entries are such lists.
#pragma once

namespace zyl::matchlib {

template <class Head, class Node>
void list_push_front(Head& head, Node* n) {
  n->prev = nullptr;
  n->next = head.first;
  (head.first ? head.first->prev : head.last) = n;
  head.first = n;
  ++head.count;
}

// Unlinks the node and clears its links; the caller frees it.
template <class Head, class Node>
void list_unlink(Head& head, Node* n) {
  (n->prev ? n->prev->next : head.first) = n->next;
  (n->next ? n->next->prev : head.last) = n->prev;
  n->next = n->prev = nullptr;
  --head.count;
}

// First node from the front whose key matches.
template <class Node, class Key>
Node* list_find(Node* first, Key key) {
  for (Node* n = first; n; n = n->next)
    if (n->key == key) return n;
  return nullptr;
}

}  // namespace zyl::matchlib
