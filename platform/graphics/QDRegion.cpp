// Points, rectangles and regions.
#include <algorithm>

#include "platform/base/LException.h"
#include "platform/graphics/QuickDrawInternal.h"

namespace {

SInt16 Clamp16(SInt32 v) { return static_cast<SInt16>(std::clamp<SInt32>(v, -32768, 32767)); }

typedef std::vector<std::pair<SInt32, SInt32>> Spans;

// The spans of the band [y0, y1) of a banded region.
void BandSpans(const MacRegion& rgn, SInt32 y0, Spans& out) {
  out.clear();
  for (const Rect& r : rgn.rects) {
    if (r.top > y0) break;
    if (r.top <= y0 && r.bottom > y0) out.emplace_back(r.left, r.right);
  }
}

enum class Op { kUnion, kSect, kDiff, kXor };

bool Apply(Op op, bool a, bool b) {
  switch (op) {
    case Op::kUnion: return a || b;
    case Op::kSect: return a && b;
    case Op::kDiff: return a && !b;
    case Op::kXor: return a != b;
  }
  return false;
}

bool Inside(const Spans& s, SInt32 x) {
  for (const auto& sp : s)
    if (x >= sp.first && x < sp.second) return true;
  return false;
}

void CombineSpans(Op op, const Spans& a, const Spans& b, Spans& out) {
  out.clear();
  std::vector<SInt32> xs;
  for (const auto& s : a) xs.insert(xs.end(), {s.first, s.second});
  for (const auto& s : b) xs.insert(xs.end(), {s.first, s.second});
  std::sort(xs.begin(), xs.end());
  xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
  for (size_t i = 0; i + 1 < xs.size(); ++i) {
    if (!Apply(op, Inside(a, xs[i]), Inside(b, xs[i]))) continue;
    if (!out.empty() && out.back().second == xs[i])
      out.back().second = xs[i + 1];
    else
      out.emplace_back(xs[i], xs[i + 1]);
  }
}

void UpdateBox(MacRegion& r) {
  if (r.rects.empty()) {
    r.rgnBBox = Rect{0, 0, 0, 0};
    return;
  }
  Rect b = r.rects.front();
  for (const Rect& x : r.rects) {
    b.top = std::min(b.top, x.top);
    b.left = std::min(b.left, x.left);
    b.bottom = std::max(b.bottom, x.bottom);
    b.right = std::max(b.right, x.right);
  }
  r.rgnBBox = b;
}

// Builds the canonical band list of op(a, b).
void Combine(Op op, const MacRegion& a, const MacRegion& b, MacRegion& out) {
  std::vector<SInt32> ys;
  for (const Rect& r : a.rects) ys.insert(ys.end(), {r.top, r.bottom});
  for (const Rect& r : b.rects) ys.insert(ys.end(), {r.top, r.bottom});
  std::sort(ys.begin(), ys.end());
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());
  std::vector<Rect> result;
  Spans sa, sb, sr, prev;
  SInt32 prevBottom = INT32_MIN;
  size_t prevStart = 0;
  for (size_t i = 0; i + 1 < ys.size(); ++i) {
    BandSpans(a, ys[i], sa);
    BandSpans(b, ys[i], sb);
    CombineSpans(op, sa, sb, sr);
    if (sr.empty()) continue;
    if (prevBottom == ys[i] && sr == prev) {
      for (size_t k = prevStart; k < result.size(); ++k) result[k].bottom = static_cast<SInt16>(ys[i + 1]);
    } else {
      prevStart = result.size();
      for (const auto& s : sr)
        result.push_back(Rect{static_cast<SInt16>(ys[i]), static_cast<SInt16>(s.first),
                              static_cast<SInt16>(ys[i + 1]), static_cast<SInt16>(s.second)});
      prev = sr;
    }
    prevBottom = ys[i + 1];
  }
  out.rects.swap(result);
  UpdateBox(out);
}

void CombineInto(Op op, RgnHandle a, RgnHandle b, RgnHandle dst) {
  if (!qd::IsRegion(a) || !qd::IsRegion(b) || !qd::IsRegion(dst)) {
    qd::SetError(paramErr);
    return;
  }
  MacRegion tmp;
  Combine(op, *a, *b, tmp);
  dst->rects.swap(tmp.rects);
  dst->rgnBBox = tmp.rgnBBox;
  qd::SetError(noErr);
}

}  // namespace

namespace qd {
bool IsRegion(RgnHandle rgn) { return rgn != nullptr && rgn->magic == 0x52676E21; }
}  // namespace qd

// ---- Points and rectangles

void SetPt(Point* pt, SInt16 h, SInt16 v) {
  if (!pt) return;
  pt->h = h;
  pt->v = v;
}
Boolean EqualPt(Point a, Point b) { return a.h == b.h && a.v == b.v; }
void AddPt(Point src, Point* dst) {
  if (!dst) return;
  dst->h = Clamp16(dst->h + src.h);
  dst->v = Clamp16(dst->v + src.v);
}
void SubPt(Point src, Point* dst) {
  if (!dst) return;
  dst->h = Clamp16(dst->h - src.h);
  dst->v = Clamp16(dst->v - src.v);
}

void SetRect(Rect* r, SInt16 left, SInt16 top, SInt16 right, SInt16 bottom) {
  if (!r) return;
  r->left = left;
  r->top = top;
  r->right = right;
  r->bottom = bottom;
}

void OffsetRect(Rect* r, SInt16 dh, SInt16 dv) {
  if (!r) return;
  r->left = Clamp16(r->left + dh);
  r->right = Clamp16(r->right + dh);
  r->top = Clamp16(r->top + dv);
  r->bottom = Clamp16(r->bottom + dv);
}

void InsetRect(Rect* r, SInt16 dh, SInt16 dv) {
  if (!r) return;
  Rect n{Clamp16(r->top + dv), Clamp16(r->left + dh), Clamp16(r->bottom - dv), Clamp16(r->right - dh)};
  *r = EmptyRect(&n) ? Rect{0, 0, 0, 0} : n;
}

Boolean SectRect(const Rect* a, const Rect* b, Rect* dst) {
  if (!a || !b || !dst) return false;
  Rect s{std::max(a->top, b->top), std::max(a->left, b->left), std::min(a->bottom, b->bottom),
         std::min(a->right, b->right)};
  if (EmptyRect(&s)) {
    *dst = Rect{0, 0, 0, 0};
    return false;
  }
  *dst = s;
  return true;
}

void UnionRect(const Rect* a, const Rect* b, Rect* dst) {
  if (!a || !b || !dst) return;
  if (EmptyRect(a)) {
    *dst = *b;
    return;
  }
  if (EmptyRect(b)) {
    *dst = *a;
    return;
  }
  *dst = Rect{std::min(a->top, b->top), std::min(a->left, b->left), std::max(a->bottom, b->bottom),
              std::max(a->right, b->right)};
}

Boolean EmptyRect(const Rect* r) { return !r || r->bottom <= r->top || r->right <= r->left; }

Boolean EqualRect(const Rect* a, const Rect* b) {
  return a && b && a->top == b->top && a->left == b->left && a->bottom == b->bottom && a->right == b->right;
}

Boolean PtInRect(Point pt, const Rect* r) {
  return r && pt.v >= r->top && pt.v < r->bottom && pt.h >= r->left && pt.h < r->right;
}

void MapPt(Point* pt, const Rect* srcRect, const Rect* dstRect) {
  if (!pt || !srcRect || !dstRect) return;
  SInt32 sw = srcRect->right - srcRect->left, sh = srcRect->bottom - srcRect->top;
  SInt32 dw = dstRect->right - dstRect->left, dh = dstRect->bottom - dstRect->top;
  if (sw == 0 || sh == 0) return;
  pt->h = Clamp16(dstRect->left + static_cast<SInt32>(static_cast<SInt64>(pt->h - srcRect->left) * dw / sw));
  pt->v = Clamp16(dstRect->top + static_cast<SInt32>(static_cast<SInt64>(pt->v - srcRect->top) * dh / sh));
}

void MapRect(Rect* r, const Rect* srcRect, const Rect* dstRect) {
  if (!r) return;
  Point tl{r->top, r->left}, br{r->bottom, r->right};
  MapPt(&tl, srcRect, dstRect);
  MapPt(&br, srcRect, dstRect);
  *r = Rect{tl.v, tl.h, br.v, br.h};
}

// ---- Regions

RgnHandle NewRgn() { return new MacRegion(); }

void DisposeRgn(RgnHandle rgn) {
  if (!qd::IsRegion(rgn)) return;
  rgn->magic = 0;
  delete rgn;
}

void CopyRgn(RgnHandle src, RgnHandle dst) {
  if (!qd::IsRegion(src) || !qd::IsRegion(dst) || src == dst) return;
  dst->rects = src->rects;
  dst->rgnBBox = src->rgnBBox;
}

void SetEmptyRgn(RgnHandle rgn) {
  if (!qd::IsRegion(rgn)) return;
  rgn->rects.clear();
  rgn->rgnBBox = Rect{0, 0, 0, 0};
}

void SetRectRgn(RgnHandle rgn, SInt16 left, SInt16 top, SInt16 right, SInt16 bottom) {
  Rect r{top, left, bottom, right};
  RectRgn(rgn, &r);
}

void RectRgn(RgnHandle rgn, const Rect* r) {
  if (!qd::IsRegion(rgn)) return;
  SetEmptyRgn(rgn);
  if (r && !EmptyRect(r)) {
    rgn->rects.push_back(*r);
    rgn->rgnBBox = *r;
  }
}

void UnionRgn(RgnHandle a, RgnHandle b, RgnHandle dst) { CombineInto(Op::kUnion, a, b, dst); }
void SectRgn(RgnHandle a, RgnHandle b, RgnHandle dst) { CombineInto(Op::kSect, a, b, dst); }
void DiffRgn(RgnHandle a, RgnHandle b, RgnHandle dst) { CombineInto(Op::kDiff, a, b, dst); }
void XorRgn(RgnHandle a, RgnHandle b, RgnHandle dst) { CombineInto(Op::kXor, a, b, dst); }

void OffsetRgn(RgnHandle rgn, SInt16 dh, SInt16 dv) {
  if (!qd::IsRegion(rgn)) return;
  for (Rect& r : rgn->rects) OffsetRect(&r, dh, dv);
  UpdateBox(*rgn);
}

void MapRgn(RgnHandle rgn, const Rect* srcRect, const Rect* dstRect) {
  if (!qd::IsRegion(rgn)) return;
  MacRegion acc;
  for (Rect r : rgn->rects) {
    MapRect(&r, srcRect, dstRect);
    if (EmptyRect(&r)) continue;
    MacRegion one;
    one.rects.push_back(r);
    MacRegion sum;
    Combine(Op::kUnion, acc, one, sum);
    acc.rects.swap(sum.rects);
  }
  rgn->rects.swap(acc.rects);
  UpdateBox(*rgn);
}

Boolean EmptyRgn(RgnHandle rgn) { return !qd::IsRegion(rgn) || rgn->rects.empty(); }

Boolean EqualRgn(RgnHandle a, RgnHandle b) {
  if (!qd::IsRegion(a) || !qd::IsRegion(b)) return false;
  if (a->rects.size() != b->rects.size()) return false;
  for (size_t i = 0; i < a->rects.size(); ++i)
    if (!EqualRect(&a->rects[i], &b->rects[i])) return false;
  return true;
}

Boolean IsRegionRectangular(RgnHandle rgn) { return qd::IsRegion(rgn) && rgn->rects.size() <= 1; }

Rect* GetRegionBounds(RgnHandle rgn, Rect* bounds) {
  if (!bounds) return nullptr;
  *bounds = qd::IsRegion(rgn) ? rgn->rgnBBox : Rect{0, 0, 0, 0};
  return bounds;
}

Boolean PtInRgn(Point pt, RgnHandle rgn) {
  if (!qd::IsRegion(rgn)) return false;
  for (const Rect& r : rgn->rects)
    if (PtInRect(pt, &r)) return true;
  return false;
}

Boolean RectInRgn(const Rect* r, RgnHandle rgn) {
  if (!qd::IsRegion(rgn) || !r) return false;
  Rect s;
  for (const Rect& x : rgn->rects)
    if (SectRect(&x, r, &s)) return true;
  return false;
}

SInt32 CountRgnRects(RgnHandle rgn) { return qd::IsRegion(rgn) ? static_cast<SInt32>(rgn->rects.size()) : 0; }

Boolean GetRgnRect(RgnHandle rgn, SInt32 inIndex, Rect* outRect) {
  if (!qd::IsRegion(rgn) || !outRect || inIndex < 0 || inIndex >= CountRgnRects(rgn)) return false;
  *outRect = rgn->rects[static_cast<size_t>(inIndex)];
  return true;
}
