#include "platform/base/ImageMatrix.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/base/FixMath.h"

DMatrix MatrixToDouble(const MatrixRecord& in) {
  DMatrix d;
  for (int i = 0; i < 3; ++i) {
    d.m[i][0] = Fix2X(in.matrix[i][0]);
    d.m[i][1] = Fix2X(in.matrix[i][1]);
    d.m[i][2] = Frac2X(in.matrix[i][2]);
  }
  return d;
}

MatrixRecord DoubleToMatrix(const DMatrix& in) {
  MatrixRecord r;
  for (int i = 0; i < 3; ++i) {
    r.matrix[i][0] = X2Fix(in.m[i][0]);
    r.matrix[i][1] = X2Fix(in.m[i][1]);
    r.matrix[i][2] = X2Frac(in.m[i][2]);
  }
  return r;
}

DMatrix DMatrixIdentity() {
  DMatrix d{};
  d.m[0][0] = d.m[1][1] = d.m[2][2] = 1.0;
  return d;
}

DMatrix DMatrixMultiply(const DMatrix& a, const DMatrix& b) {
  DMatrix r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j];
  return r;
}

void DMatrixTransform(const DMatrix& inMatrix, double& x, double& y) {
  double nx = x * inMatrix.m[0][0] + y * inMatrix.m[1][0] + inMatrix.m[2][0];
  double ny = x * inMatrix.m[0][1] + y * inMatrix.m[1][1] + inMatrix.m[2][1];
  double w = x * inMatrix.m[0][2] + y * inMatrix.m[1][2] + inMatrix.m[2][2];
  if (w != 1.0 && w != 0.0) {
    nx /= w;
    ny /= w;
  }
  x = nx;
  y = ny;
}

bool DMatrixInverse(const DMatrix& in, DMatrix& out) {
  const auto& m = in.m;
  double c00 = m[1][1] * m[2][2] - m[1][2] * m[2][1];
  double c01 = m[1][2] * m[2][0] - m[1][0] * m[2][2];
  double c02 = m[1][0] * m[2][1] - m[1][1] * m[2][0];
  double det = m[0][0] * c00 + m[0][1] * c01 + m[0][2] * c02;
  if (det == 0.0 || !std::isfinite(det) || std::fabs(det) < 1e-300) return false;
  double inv = 1.0 / det;
  DMatrix r;
  r.m[0][0] = c00 * inv;
  r.m[0][1] = (m[0][2] * m[2][1] - m[0][1] * m[2][2]) * inv;
  r.m[0][2] = (m[0][1] * m[1][2] - m[0][2] * m[1][1]) * inv;
  r.m[1][0] = c01 * inv;
  r.m[1][1] = (m[0][0] * m[2][2] - m[0][2] * m[2][0]) * inv;
  r.m[1][2] = (m[0][2] * m[1][0] - m[0][0] * m[1][2]) * inv;
  r.m[2][0] = c02 * inv;
  r.m[2][1] = (m[0][1] * m[2][0] - m[0][0] * m[2][1]) * inv;
  r.m[2][2] = (m[0][0] * m[1][1] - m[0][1] * m[1][0]) * inv;
  out = r;
  return true;
}

static void PostConcat(MatrixRecord* m, const DMatrix& t) {
  if (!m) return;
  *m = DoubleToMatrix(DMatrixMultiply(MatrixToDouble(*m), t));
}

static DMatrix Translation(double dx, double dy) {
  DMatrix t = DMatrixIdentity();
  t.m[2][0] = dx;
  t.m[2][1] = dy;
  return t;
}

void SetIdentityMatrix(MatrixRecord* m) {
  if (!m) return;
  std::memset(m, 0, sizeof *m);
  m->matrix[0][0] = fixed1;
  m->matrix[1][1] = fixed1;
  m->matrix[2][2] = fract1;
}

void CopyMatrix(const MatrixRecord* inSource, MatrixRecord* outDest) {
  if (inSource && outDest) *outDest = *inSource;
}

Boolean EqualMatrix(const MatrixRecord* a, const MatrixRecord* b) {
  return a && b && std::memcmp(a, b, sizeof *a) == 0;
}

SInt16 GetMatrixType(const MatrixRecord* m) {
  if (!m) return identityMatrixType;
  const auto& x = m->matrix;
  if (x[0][2] != 0 || x[1][2] != 0 || x[2][2] != fract1) return perspectiveMatrixType;
  bool translate = x[2][0] != 0 || x[2][1] != 0;
  if (x[0][1] != 0 || x[1][0] != 0) return translate ? linearTranslateMatrixType : linearMatrixType;
  bool scale = x[0][0] != fixed1 || x[1][1] != fixed1;
  if (scale) return translate ? scaleTranslateMatrixType : scaleMatrixType;
  return translate ? translateMatrixType : identityMatrixType;
}

void TranslateMatrix(MatrixRecord* m, Fixed deltaH, Fixed deltaV) { PostConcat(m, Translation(Fix2X(deltaH), Fix2X(deltaV))); }

void ScaleMatrix(MatrixRecord* m, Fixed scaleX, Fixed scaleY, Fixed aboutX, Fixed aboutY) {
  double cx = Fix2X(aboutX), cy = Fix2X(aboutY);
  DMatrix s = DMatrixIdentity();
  s.m[0][0] = Fix2X(scaleX);
  s.m[1][1] = Fix2X(scaleY);
  PostConcat(m, DMatrixMultiply(DMatrixMultiply(Translation(-cx, -cy), s), Translation(cx, cy)));
}

void RotateMatrix(MatrixRecord* m, Fixed degrees, Fixed aboutX, Fixed aboutY) {
  double rad = Fix2X(degrees) * M_PI / 180.0;
  double c = std::cos(rad), s = std::sin(rad);
  double cx = Fix2X(aboutX), cy = Fix2X(aboutY);
  DMatrix r = DMatrixIdentity();
  r.m[0][0] = c;
  r.m[0][1] = s;
  r.m[1][0] = -s;
  r.m[1][1] = c;
  PostConcat(m, DMatrixMultiply(DMatrixMultiply(Translation(-cx, -cy), r), Translation(cx, cy)));
}

void SkewMatrix(MatrixRecord* m, Fixed skewX, Fixed skewY, Fixed aboutX, Fixed aboutY) {
  double cx = Fix2X(aboutX), cy = Fix2X(aboutY);
  DMatrix k = DMatrixIdentity();
  k.m[1][0] = Fix2X(skewX);
  k.m[0][1] = Fix2X(skewY);
  PostConcat(m, DMatrixMultiply(DMatrixMultiply(Translation(-cx, -cy), k), Translation(cx, cy)));
}

void ConcatMatrix(const MatrixRecord* a, MatrixRecord* b) {
  if (!a || !b) return;
  *b = DoubleToMatrix(DMatrixMultiply(MatrixToDouble(*b), MatrixToDouble(*a)));
}

Boolean InverseMatrix(const MatrixRecord* m, MatrixRecord* out) {
  if (!m || !out) return false;
  DMatrix inv;
  if (!DMatrixInverse(MatrixToDouble(*m), inv)) return false;
  // Keep the last column normalised so the inverse of an affine matrix stays affine.
  if (inv.m[2][2] != 0.0 && inv.m[2][2] != 1.0 && inv.m[0][2] == 0.0 && inv.m[1][2] == 0.0) {
    double w = inv.m[2][2];
    for (auto& row : inv.m)
      for (double& v : row) v /= w;
  }
  *out = DoubleToMatrix(inv);
  return true;
}

OSErr TransformPoints(const MatrixRecord* m, Point* ioPoints, SInt32 count) {
  if (!m || (!ioPoints && count > 0) || count < 0) return paramErr;
  DMatrix d = MatrixToDouble(*m);
  for (SInt32 i = 0; i < count; ++i) {
    double x = ioPoints[i].h, y = ioPoints[i].v;
    DMatrixTransform(d, x, y);
    ioPoints[i].h = SaturateToSInt16(x);
    ioPoints[i].v = SaturateToSInt16(y);
  }
  return noErr;
}

OSErr TransformFixedPoints(const MatrixRecord* m, FixedPoint* ioPoints, SInt32 count) {
  if (!m || (!ioPoints && count > 0) || count < 0) return paramErr;
  DMatrix d = MatrixToDouble(*m);
  for (SInt32 i = 0; i < count; ++i) {
    double x = Fix2X(ioPoints[i].x), y = Fix2X(ioPoints[i].y);
    DMatrixTransform(d, x, y);
    ioPoints[i].x = X2Fix(x);
    ioPoints[i].y = X2Fix(y);
  }
  return noErr;
}

static Boolean BoundCorners(const MatrixRecord* m, double l, double t, double r, double b, double out[4],
                            FixedPoint* outPoints) {
  DMatrix d = MatrixToDouble(*m);
  double xs[4] = {l, r, r, l}, ys[4] = {t, t, b, b};
  for (int i = 0; i < 4; ++i) {
    DMatrixTransform(d, xs[i], ys[i]);
    if (outPoints) {
      outPoints[i].x = X2Fix(xs[i]);
      outPoints[i].y = X2Fix(ys[i]);
    }
  }
  out[0] = *std::min_element(xs, xs + 4);
  out[1] = *std::min_element(ys, ys + 4);
  out[2] = *std::max_element(xs, xs + 4);
  out[3] = *std::max_element(ys, ys + 4);
  SInt16 type = GetMatrixType(m);
  return type <= scaleTranslateMatrixType;
}

Boolean TransformRect(const MatrixRecord* m, Rect* ioRect, FixedPoint* outPoints) {
  if (!m || !ioRect) return false;
  double box[4];
  Boolean rect = BoundCorners(m, ioRect->left, ioRect->top, ioRect->right, ioRect->bottom, box, outPoints);
  ioRect->left = SaturateToSInt16(box[0]);
  ioRect->top = SaturateToSInt16(box[1]);
  ioRect->right = SaturateToSInt16(box[2]);
  ioRect->bottom = SaturateToSInt16(box[3]);
  return rect;
}

Boolean TransformFixedRect(const MatrixRecord* m, FixedRect* ioRect, FixedPoint* outPoints) {
  if (!m || !ioRect) return false;
  double box[4];
  Boolean rect = BoundCorners(m, Fix2X(ioRect->left), Fix2X(ioRect->top), Fix2X(ioRect->right), Fix2X(ioRect->bottom), box, outPoints);
  ioRect->left = X2Fix(box[0]);
  ioRect->top = X2Fix(box[1]);
  ioRect->right = X2Fix(box[2]);
  ioRect->bottom = X2Fix(box[3]);
  return rect;
}

void RectMatrix(MatrixRecord* m, const Rect* s, const Rect* d) {
  if (!m || !s || !d) return;
  DMatrix r = DMatrixIdentity();
  double sw = s->right - s->left, sh = s->bottom - s->top;
  double dw = d->right - d->left, dh = d->bottom - d->top;
  r.m[0][0] = sw != 0 ? dw / sw : 1.0;
  r.m[1][1] = sh != 0 ? dh / sh : 1.0;
  r.m[2][0] = d->left - s->left * r.m[0][0];
  r.m[2][1] = d->top - s->top * r.m[1][1];
  *m = DoubleToMatrix(r);
}

void MapMatrix(MatrixRecord* m, const Rect* fromRect, const Rect* toRect) {
  if (!m || !fromRect || !toRect) return;
  MatrixRecord map;
  RectMatrix(&map, fromRect, toRect);
  PostConcat(m, MatrixToDouble(map));
}
