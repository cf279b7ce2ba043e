// The 3x3 transformation matrix of the movie toolbox. Points are row vectors:
// [x y 1] * M. Elements [i][0] and [i][1] are 16.16 Fixed, elements [i][2] are
// 2.30 Fract. Every operation on a matrix post-concatenates: the new
// transformation applies after the one the matrix already holds.
#pragma once

#include "platform/base/MacTypes.h"

struct MatrixRecord {
  Fixed matrix[3][3];
};
typedef MatrixRecord* MatrixRecordPtr;

enum {
  identityMatrixType = 0x00,
  translateMatrixType = 0x01,
  scaleMatrixType = 0x02,
  scaleTranslateMatrixType = 0x03,
  linearMatrixType = 0x04,
  linearTranslateMatrixType = 0x05,
  perspectiveMatrixType = 0x06,
};

// The matrix as doubles, row-vector convention, m[2][2] normally 1.
struct DMatrix {
  double m[3][3];
};

DMatrix MatrixToDouble(const MatrixRecord& inMatrix);
MatrixRecord DoubleToMatrix(const DMatrix& inMatrix);
DMatrix DMatrixMultiply(const DMatrix& a, const DMatrix& b);
DMatrix DMatrixIdentity();
// Maps (x, y) through the matrix (with the perspective divide).
void DMatrixTransform(const DMatrix& inMatrix, double& ioX, double& ioY);
bool DMatrixInverse(const DMatrix& inMatrix, DMatrix& outInverse);

void SetIdentityMatrix(MatrixRecord* m);
void CopyMatrix(const MatrixRecord* inSource, MatrixRecord* outDest);
Boolean EqualMatrix(const MatrixRecord* a, const MatrixRecord* b);
SInt16 GetMatrixType(const MatrixRecord* m);
void TranslateMatrix(MatrixRecord* m, Fixed deltaH, Fixed deltaV);
void ScaleMatrix(MatrixRecord* m, Fixed scaleX, Fixed scaleY, Fixed aboutX, Fixed aboutY);
// Positive degrees turn x towards y (clockwise on a screen whose y axis points down).
void RotateMatrix(MatrixRecord* m, Fixed degrees, Fixed aboutX, Fixed aboutY);
void SkewMatrix(MatrixRecord* m, Fixed skewX, Fixed skewY, Fixed aboutX, Fixed aboutY);
// b = b * a: a point goes through the old b, then through a (like every
// other matrix operation, the added transformation acts last).
void ConcatMatrix(const MatrixRecord* a, MatrixRecord* b);
// False (and outInverse untouched) when the matrix is singular.
Boolean InverseMatrix(const MatrixRecord* m, MatrixRecord* outInverse);
// Maps whole-pixel points, rounding to the nearest pixel.
OSErr TransformPoints(const MatrixRecord* m, Point* ioPoints, SInt32 inCount);
OSErr TransformFixedPoints(const MatrixRecord* m, FixedPoint* ioPoints, SInt32 inCount);
// Maps the rectangle's corners and returns their bounding box; true when the
// matrix keeps rectangles rectangular (no rotation or perspective).
Boolean TransformRect(const MatrixRecord* m, Rect* ioRect, FixedPoint* outPoints);
Boolean TransformFixedRect(const MatrixRecord* m, FixedRect* ioRect, FixedPoint* outPoints);
// The matrix that maps srcRect onto dstRect.
void RectMatrix(MatrixRecord* m, const Rect* srcRect, const Rect* dstRect);
void MapMatrix(MatrixRecord* m, const Rect* fromRect, const Rect* toRect);
