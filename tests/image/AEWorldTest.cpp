// Host worlds and the plain pixel operations on them: allocation, fills,
// layer checkout, disposal and blits.
#include <functional>
#include <stdexcept>

#include "image/AEWorld.h"
#include "image/EdgeMode.h"
#include "image/Scale.h"
#include "shapes/ShapesSupport.h"

using namespace shapestest;

namespace {

TEST(AEWorld, RefusesBadSizesEmptyUseAndOwningReadOnlyWorlds) {
  HostSession session;
  AEWorld world(session.In(), 2, 2, PixelFormat::Argb8);
  EXPECT_TRUE(RaisesAE([&] { world.NewWorld(0, 10, PixelFormat::Argb8); }, 1,
                       "AEWorld: width for new world is 0!!! :("));
  EXPECT_EQ(world.RawWorld(), nullptr);  // the previous world went first
  EXPECT_TRUE(RaisesAE([&] { world.NewWorld(10, -1, PixelFormat::Argb8); }, 1,
                       "AEWorld: height for new world is 0!!! :("));
  EXPECT_EQ(session.host.LiveWorlds(), 0);

  AEWorld noHost;
  const std::function<void()> operations[] = {
      [&] { world.Fill(WorldColor{}, nullptr); },
      [&] { world.Smooth(session.Facts(), 1.0, EdgeNone, true, true, true, true); },
      [&] { noHost.World(); },
  };
  for (const auto& operation : operations) {
    EXPECT_TRUE(RaisesAE(operation, 1, "AEWorld not initialized"));
  }
  softhost::SoftWorld other(2, 2, false);
  PF_EffectWorld readOnly = *other.World();
  readOnly.world_flags &= ~PF_WorldFlag_WRITEABLE;
  EXPECT_TRUE(RaisesAE([&] { AEWorld owner(session.In(), &readOnly, true); }, 1,
                       "AEWorld: Can not own a read-only world"));
}

TEST(AEWorld, FillAndScaleConvertToTheWorldsDepth) {
  HostSession session;
  AEWorld deep(session.In(), 3, 2, PixelFormat::Argb16);
  deep.Fill(WorldColor::Of(PF_Pixel{255, 128, 1, 0}), nullptr);
  AEWorld narrow(session.In(), 3, 2, PixelFormat::Argb8);
  narrow.Fill(WorldColor::Of(PF_Pixel16{32768, 16384, 65, 63}), nullptr);
  const int32_t wide[4] = {32768, 16448, 129, 0};  // (c * 32768 + 128) / 255
  const int32_t small[4] = {255, 128, 1, 0};       // (c * 255 + 16384) >> 15
  for (int32_t c = 0; c < 4; ++c) {
    EXPECT_EQ(Channel(deep.World(), 2, 1, c), wide[c]) << c;
    EXPECT_EQ(Channel(narrow.World(), 2, 1, c), small[c]) << c;
  }
  AEWorld scaled(session.In());
  scaled.ScaleFromBy(deep.World(), 0.1, 1.25, ScaleTriangle, EdgeRepeat, nullptr);
  EXPECT_EQ(scaled.World()->width, 1);   // trunc(0.3 + 0.5) is 0
  EXPECT_EQ(scaled.World()->height, 3);  // trunc(2.5 + 0.5)
  EXPECT_EQ(Channel(scaled.World(), 0, 2, 0), 32768);
}

// dispose_world that gives the world back but reports a failure.
PF_Err (*gRealDispose)(PF_ProgPtr, PF_EffectWorld*) = nullptr;
PF_Err FailingDispose(PF_ProgPtr ref, PF_EffectWorld* world) {
  gRealDispose(ref, world);
  return PF_Err_INTERNAL_STRUCT_DAMAGED;
}

TEST(AEWorld, DestructorDisposesWhileUnwindingAndDropsHostErrors) {
  HostSession session;
  PF_UtilCallbacks utils = *session.In()->utils;
  gRealDispose = utils.dispose_world;
  utils.dispose_world = &FailingDispose;
  session.In()->utils = &utils;
  EXPECT_THROW(
      {
        AEWorld world(session.In(), 4, 4, PixelFormat::Argb8);
        throw std::runtime_error("unwind");
      },
      std::runtime_error);
  EXPECT_EQ(session.host.LiveWorlds(), 0);

  AEWorld world(session.In(), 4, 4, PixelFormat::Argb8);
  EXPECT_TRUE(RaisesAE([&] { world.Dispose(false); }, PF_Err_INTERNAL_STRUCT_DAMAGED,
                       "Could not dispose AEWorld"));
  EXPECT_EQ(world.RawWorld(), nullptr);
  EXPECT_EQ(session.host.LiveWorlds(), 0);
}

TEST(Blit, ClipsToBothWorlds) {
  softhost::SoftWorld source(10, 6, false);
  for (int32_t y = 0; y < 6; ++y) {
    for (int32_t x = 0; x < 10; ++x) SetPixel(source.World(), x, y, 255, x, y, 7);
  }
  struct Case {
    const char* name;
    bool hasRect;
    PF_Rect rect;
    int32_t x, y;
    // Destination pixels written (inclusive) and the source pixel copied to
    // the first of them.
    int32_t left, top, right, bottom, srcLeft, srcTop;
  };
  const Case cases[] = {
      {"x = -5", false, {}, -5, 0, 0, 0, 4, 5, 5, 0},
      {"whole source past the corner", true, HostRect(0, 0, 9, 5), 2, 2, 2, 2, 7, 5, 0, 0},
  };
  for (const Case& c : cases) {
    softhost::SoftWorld dest(8, 6, false);
    Blit(source.World(), dest.World(), c.hasRect ? &c.rect : nullptr, c.x, c.y);
    for (int32_t y = 0; y < 6; ++y) {
      for (int32_t x = 0; x < 8; ++x) {
        const bool inside = x >= c.left && x <= c.right && y >= c.top && y <= c.bottom;
        const int32_t expected[3] = {inside ? c.srcLeft + x - c.left : 0,
                                     inside ? c.srcTop + y - c.top : 0, inside ? 7 : 0};
        for (int32_t ch = 1; ch < 4; ++ch) {
          ASSERT_EQ(Channel(dest.World(), x, y, ch), expected[ch - 1])
              << c.name << " at " << x << "," << y << " channel " << ch;
        }
      }
    }
  }
  softhost::SoftWorld deep(4, 4, true);
  EXPECT_TRUE(RaisesAE([&] { Blit(source.World(), deep.World(), nullptr, 0, 0); }, 1,
                       "Blit Error: Worlds have different bitdepths"));
}

}  // namespace
