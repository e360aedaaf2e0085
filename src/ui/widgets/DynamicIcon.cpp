#include "ui/widgets/DynamicIcon.h"

#include "Log.h"

#include <QTimer>

namespace Ui {

DynamicIcon::DynamicIcon(QWidget* parent) : QLabel(parent), timer_(new QTimer(this))
{
  timer_->setSingleShot(true);
  connect(timer_, &QTimer::timeout, this, &DynamicIcon::LoadAnimation);
}

void DynamicIcon::Init(const QString& path, unsigned int frames)
{
  LOG(Debug) << "Loading icon from: " << path;
  movie_.stop();
  timer_->stop();
  clear();
  path_ = path;
  currentFrame_ = 1;
  frameCount_ = frames;
  shownFrame_ = 0;
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
  movie_.setFileName(path_);
  setMovie(&movie_);
  movie_.start();
}

void DynamicIcon::LoadIcon()
{
  pixmap_.load(path_);
  setPixmap(pixmap_);
}

void DynamicIcon::LoadAnimation()
{
  // Only Init (with 2 or more frames) and the timer it starts come here.
  if (frameCount_ < 2 || frameCount_ == AnimatedPicture)
    return;
  pixmap_.load(path_.arg(currentFrame_));
  setPixmap(pixmap_);
  shownFrame_ = currentFrame_;
  currentFrame_ = currentFrame_ % frameCount_ + 1;
  timer_->start(static_cast<int>(1000u / frameCount_));
}

} // namespace Ui
