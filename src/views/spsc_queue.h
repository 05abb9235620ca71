// SpscQueue<T>: an unbounded first-in first-out queue between one producing and one consuming
// thread, without a lock: the producer links a new node after the last one and publishes it
// with one release store; the consumer follows the links with acquire loads and frees the nodes
// it has passed. Neither side ever waits for the other.
//
// Threads: Push on the producing thread only, Pop and Empty on the consuming thread only; the
// queue is destroyed when neither uses it any more. Which thread is which is the owner's choice
// (for the views: the host's thread and the engine's).
#pragma once

#include <atomic>
#include <utility>

namespace quillo::views {

template <typename T>
class SpscQueue {
 public:
  SpscQueue() : m_head(new Node), m_tail(m_head) {}
  ~SpscQueue() {
    while (Node* node = m_head) {
      m_head = node->next.load(std::memory_order_relaxed);
      delete node;
    }
  }
  SpscQueue(const SpscQueue&) = delete;
  SpscQueue& operator=(const SpscQueue&) = delete;

  // Producer.
  void Push(T value) {
    Node* node = new Node;
    node->value = std::move(value);
    m_tail->next.store(node, std::memory_order_release);
    m_tail = node;
  }

  // Consumer: moves the oldest value into *out; false when the queue is empty.
  bool Pop(T* out) {
    Node* next = m_head->next.load(std::memory_order_acquire);
    if (next == nullptr) return false;
    *out = std::move(next->value);
    delete m_head;  // the node passed before; next becomes the new head
    m_head = next;
    return true;
  }

  // Consumer.
  bool Empty() const { return m_head->next.load(std::memory_order_acquire) == nullptr; }

 private:
  struct Node {
    std::atomic<Node*> next{nullptr};
    T value{};
  };

  Node* m_head;  // consumer only: the node last taken (its value is spent)
  Node* m_tail;  // producer only: the node last linked
};

}  // namespace quillo::views
