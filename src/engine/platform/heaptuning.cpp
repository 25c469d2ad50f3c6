#include "platform/heaptuning.h"

#include <malloc.h>

namespace
{

constexpr int kLargestHeapBlock = 8 * 1024 * 1024;
constexpr int kKeptFreeBytes = 32 * 1024 * 1024;

} // namespace

void keepLargeBlocksInHeap()
{
    mallopt(M_MMAP_THRESHOLD, kLargestHeapBlock);
    mallopt(M_TRIM_THRESHOLD, kKeptFreeBytes);
}

void returnFreeHeap()
{
    malloc_trim(0);
}
