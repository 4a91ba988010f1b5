#!/usr/bin/env bash
# Draws the main window's banner, banner.png beside this script: 808 x 104
# pixels on the layout's banner colour, with the program's card-to-phone
# sign, its name, its motto and the three steps of a delivery. The picture
# is as wide as the layout has it, but the window's client area shows only
# the first 794 pixels of it, so every text stays inside that width.
#
#   bash src/app/resources/draw-banner.sh [OUT.png]
#
# Needs ImageMagick and the WenQuanYi Micro Hei font (scripts/install-deps.sh
# installs both). The picture carries no time stamps, so drawing it again
# with the same tools gives the same file.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${1:-$here/banner.png}
font=$(fc-match -f '%{file}' 'WenQuanYi Micro Hei')

width=808           # the picture, as the layout has it
height=104
visible=794         # what the window's client area shows of it
margin=12           # free space between a text and the visible edge

ground='#13B3FD'    # the layout's banner colour, 0xFDB313 as COLORREF
band='#0E8FD0'      # the darker band on the right
disc='#3CC2FF'      # the disc in the top right corner
ink='#0B6FA8'       # the card's outline and lines
stripe='#FFD54A'    # the card's stripe
white='#FFFFFF'
pale='#E8F7FF'      # the motto

# The steps end `margin` pixels before the visible edge: with gravity East
# the offset counts from the picture's right edge.
steps_right=$((width - visible + margin))

convert -size "${width}x${height}" "xc:${ground}" \
  -fill "$band" -draw "polygon 510,0 ${width},0 ${width},${height} 590,${height}" \
  -fill "$disc" -draw "circle 760,20 760,60" \
  -fill "$white" -stroke "$ink" -strokewidth 2 -draw "roundrectangle 25,21 103,77 8,8" \
  -stroke none -fill "$stripe" -draw "rectangle 25,34 103,44" \
  -fill "$ink" -draw "rectangle 32,54 72,58" -draw "rectangle 32,64 88,68" \
  -fill "$white" -draw "rectangle 116,44 141,56" -draw "polygon 141,33 161,50 141,67" \
  -draw "roundrectangle 172,26 206,74 6,6" \
  -fill "$ground" -draw "rectangle 177,32 201,62" \
  -font "$font" -fill "$white" -pointsize 34 -gravity NorthWest -annotate +226+26 '自动发货系统' \
  -fill "$pale" -pointsize 14 -annotate +230+71 '虚拟商品 · 卡密自动发送 · 无人值守' \
  -fill "$white" -pointsize 13 -gravity NorthEast -annotate "+${steps_right}+76" '扫描订单 → 发送卡密 → 确认发货' \
  -strip -define png:exclude-chunks=date,time -depth 8 -type TrueColor "$out"
