#include "ui/widgets/DynamicIcon.h"

#include "Log.h"

#include <QTimer>

namespace Ui {

DynamicIcon::DynamicIcon(QWidget* parent) : QLabel(parent), timer(new QTimer(this))
{
  timer->setSingleShot(true);
  connect(timer, &QTimer::timeout, this, &DynamicIcon::LoadAnimation);
}

void DynamicIcon::Init(const QString& newPath, unsigned int frames)
{
  LOG(Debug) << "Loading icon from: " << newPath;
  animation.stop();
  timer->stop();
  clear();
  path = newPath;
  currentFrame = 1;
  frameCount = frames;
  shownFrame = 0;
  switch (frames) {
  case AnimatedPicture:
    LoadMovie();
    break;
  case 0:
    break;
  case 1:
    LoadIcon();
    break;
  default:
    LoadAnimation();
    break;
  }
}

void DynamicIcon::LoadMovie()
{
  animation.setFileName(path);
  setMovie(&animation);
  animation.start();
}

void DynamicIcon::LoadIcon()
{
  picture.load(path);
  setPixmap(picture);
}

void DynamicIcon::LoadAnimation()
{
  // Only Init (with 2 or more frames) and the timer it starts come here.
  if (frameCount < 2 || frameCount == AnimatedPicture)
    return;
  picture.load(path.arg(currentFrame));
  setPixmap(picture);
  shownFrame = currentFrame;
  currentFrame = currentFrame % frameCount + 1;
  timer->start(static_cast<int>(1000u / frameCount));
}

} // namespace Ui
