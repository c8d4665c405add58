#pragma once
// The application's pictures, drawn in code: the application icon and the toolbar's 16 x 16
// buttons (New, Open, Save, About).

#include <QIcon>
#include <QPixmap>

// The application icon: a gauge over a tag, at the given size in pixels.
QPixmap AppIconPixmap(int size);
QIcon AppIcon();

QIcon NewFileIcon();
QIcon OpenFileIcon();
QIcon SaveFileIcon();
QIcon AboutIcon();
