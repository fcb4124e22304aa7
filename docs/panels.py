"""What the README's side-by-side pictures share: a skeleton in red over its
objects in grey, enlarged, and two such panels on one sheet (needs Pillow)."""

from PIL import Image, ImageDraw


def skeleton_panel(picture, skeleton_file, zoom, label):
    """The grey picture with the skeleton pixels (value 1) in red, `zoom`
    times larger, labelled in its corner; returns the panel and its drawer."""
    skeleton = Image.open(skeleton_file)
    panel = Image.merge("RGB", (picture, picture, picture)).point(lambda v: 90 + v // 2)
    panel.paste(Image.new("RGB", picture.size, (200, 0, 0)), mask=skeleton.point(lambda v: 255 if v == 1 else 0))
    panel = panel.resize((picture.width * zoom, picture.height * zoom), Image.NEAREST)
    draw = ImageDraw.Draw(panel)
    draw.text((6, 4), label, fill=(255, 255, 0))
    return panel, draw


def save_side_by_side(panels, path):
    left, right = panels
    sheet = Image.new("RGB", (left.width + 8 + right.width, max(left.height, right.height)), (255, 255, 255))
    sheet.paste(left, (0, 0))
    sheet.paste(right, (left.width + 8, 0))
    sheet.save(path)
