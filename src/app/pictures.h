#pragma once
// The program's pictures, drawn at run time so no image files need shipping.
#include <QPixmap>

// The main window's banner, 150 by 95.
QPixmap BannerPicture();
// The About window's picture, tall and narrow.
QPixmap AboutPicture(int width, int height);
// The progress page's step pointer, 20 by 20.
QPixmap PointerPicture();
