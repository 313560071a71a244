#include "kernels/KernelStorage.h"

#include "kernels/KernelMaker.h"

SimpleKernelHolder::SimpleKernelHolder(double hAmount, double vAmount, KernelMaker* maker) {
  maker->ReleaseKernel();
  maker->PrepareShape(hAmount, vAmount, 1);
  int32_t width = 0;
  int32_t height = 0;
  maker->GetKernelSize(hAmount, vAmount, &width, &height);
  storage.Resize(width, height, 0);
  maker->BuildKernel(storage.Data(), hAmount, vAmount, 0);
  view = KernelView{0, width, height, 0, 0, width, storage.Data()};
}

SimpleKernelHolder::~SimpleKernelHolder() { storage.Resize(0, 0, 0); }
