#!/usr/bin/perl
# SPDX-License-Identifier: MIT
# Draws adapter.ico (icon 128): a telephone handset with a Bluetooth badge, at
# 16x16 and 32x32, 32-bit with alpha and an AND mask for older drawing paths.
# With --png it draws the same icon as PNG files at 16, 32, 48 and 256 pixels
# for the desktop's icon theme. Images from 32 up are rendered from shapes in a
# unit square with 8x8 supersampling; at 16x16 the rune blurs that way, so that
# one is placed by hand. Run it again after changing either:
#   perl make_adapter_icon.pl adapter.ico
#   perl make_adapter_icon.pl --png icons
use strict;
use warnings;
use Compress::Zlib qw(compress crc32);
use List::Util qw(max);

my $out = shift or die "usage: make_adapter_icon.pl OUT.ico | --png DIR\n";
my $png_dir = $out eq '--png' ? (shift or die "usage: make_adapter_icon.pl --png DIR\n") : undef;

sub seg_dist2 {    # squared distance from (px,py) to segment a-b
  my ($px, $py, $ax, $ay, $bx, $by) = @_;
  my ($dx, $dy) = ($bx - $ax, $by - $ay);
  my $t = (($px - $ax) * $dx + ($py - $ay) * $dy) / ($dx * $dx + $dy * $dy);
  $t = 0 if $t < 0;
  $t = 1 if $t > 1;
  my ($qx, $qy) = ($ax + $t * $dx - $px, $ay + $t * $dy - $py);
  return $qx * $qx + $qy * $qy;
}

sub in_ellipse {
  my ($px, $py, $cx, $cy, $rx, $ry) = @_;
  my ($u, $v) = (($px - $cx) / $rx, ($py - $cy) / $ry);
  return $u * $u + $v * $v <= 1;
}

# The handset's handle: a quadratic curve as a polyline.
my @handle;
{
  my @p = ([0.17, 0.76], [0.43, 0.50], [0.69, 0.76]);
  for my $i (0 .. 16) {
    my $t = $i / 16;
    my $a = (1 - $t) * (1 - $t);
    my $b = 2 * (1 - $t) * $t;
    my $c = $t * $t;
    push @handle, [$a * $p[0][0] + $b * $p[1][0] + $c * $p[2][0],
                   $a * $p[0][1] + $b * $p[1][1] + $c * $p[2][1]];
  }
}

# Bluetooth rune inside its badge.
my ($bcx, $bcy, $brx, $bry) = (0.755, 0.285, 0.215, 0.275);
my ($top, $bot) = ([0.755, 0.07], [0.755, 0.5]);
my ($ru, $rl) = ([0.855, 0.18], [0.855, 0.39]);
my ($lu, $ll) = ([0.66, 0.19], [0.66, 0.38]);
my @rune = ([$top, $bot], [$top, $ru], [$ru, $ll], [$bot, $rl], [$rl, $lu]);

my @dark = (0x26, 0x2b, 0x33);    # handset
my @shine = (0x6a, 0x74, 0x80);   # its upper edge
my @blue = (0x16, 0x5f, 0xc8);
my @rim = (0x0c, 0x37, 0x80);
my @white = (0xff, 0xff, 0xff);

# Colour at one sample point, or undef where the icon is transparent.
sub sample {
  my ($x, $y, $size) = @_;
  my $px = 1 / $size;
  # Lines keep the weight they have at 32 px when drawn larger.
  my $line = max($px, 1 / 32);
  my $stroke = 1.4 * $line / 2;
  if (in_ellipse($x, $y, $bcx, $bcy, $brx, $bry)) {
    for my $s (@rune) {
      return \@white if seg_dist2($x, $y, @{$s->[0]}, @{$s->[1]}) <= $stroke * $stroke;
    }
    return in_ellipse($x, $y, $bcx, $bcy, $brx - $line, $bry - $line) ? \@blue : \@rim;
  }
  my $half = 0.062;
  for my $i (0 .. $#handle - 1) {
    my $d2 = seg_dist2($x, $y, @{$handle[$i]}, @{$handle[$i + 1]});
    if ($d2 <= $half * $half) {
      # The upper rim of the handle catches the light.
      my $inner = $half - 1.2 * $line;
      return $d2 > $inner * $inner && $y < $handle[$i][1] ? \@shine : \@dark;
    }
  }
  # Ear and mouth cups: domes with flat faces.
  return \@dark if $y <= 0.95 && in_ellipse($x, $y, 0.17, 0.95, 0.17, 0.2);
  return \@dark if $y <= 0.95 && in_ellipse($x, $y, 0.69, 0.95, 0.17, 0.2);
  return undef;
}

# k handset, s its lit edge, r badge rim, b badge, w rune, . transparent
my @small = qw(
  ..........rrrrr.
  .........rbbwbbr
  .........rbbwwbr
  .........rwbwbwr
  .........rbwwwbr
  .........rbbwbbr
  .........rbwwwbr
  .........rwbwbwr
  .........rbbwwbr
  ...sssss.rbbwbbr
  ..skkkkks.rrrrr.
  .kkk...kkk......
  kkkk...kkkk.....
  kkkk...kkkk.....
  kkkk...kkkk.....
  kkkk...kkkk.....
);
my %palette = (k => \@dark, s => \@shine, r => \@rim, b => \@blue, w => \@white);

sub render {
  my ($size) = @_;
  if ($size == 16) {
    return [map { [map { $_ eq '.' ? [0, 0, 0, 0] : [@{$palette{$_}}, 255] } split //] } @small];
  }
  my $ss = 8;
  my @rows;
  for my $row (0 .. $size - 1) {
    my @pixels;
    for my $col (0 .. $size - 1) {
      my ($r, $g, $b, $n) = (0, 0, 0, 0);
      for my $sy (0 .. $ss - 1) {
        for my $sx (0 .. $ss - 1) {
          my $c = sample(($col + ($sx + 0.5) / $ss) / $size, ($row + ($sy + 0.5) / $ss) / $size, $size);
          next unless $c;
          $r += $c->[0];
          $g += $c->[1];
          $b += $c->[2];
          $n++;
        }
      }
      my $a = int(255 * $n / ($ss * $ss) + 0.5);
      push @pixels, $n ? [int($r / $n + 0.5), int($g / $n + 0.5), int($b / $n + 0.5), $a] : [0, 0, 0, 0];
    }
    push @rows, \@pixels;
  }
  return \@rows;
}

# One icon image: BITMAPINFOHEADER, bottom-up BGRA rows, then the AND mask.
sub icon_image {
  my ($size) = @_;
  my $rows = render($size);
  my $mask_stride = int(($size + 31) / 32) * 4;
  my $data = pack('VVVvvVVVVVV', 40, $size, 2 * $size, 1, 32, 0, 0, 0, 0, 0, 0);
  my $mask = '';
  for my $row (reverse @$rows) {
    my $bits = '';
    for my $p (@$row) {
      $data .= pack('CCCC', $p->[2], $p->[1], $p->[0], $p->[3]);
      $bits .= $p->[3] < 128 ? '1' : '0';
    }
    $bits .= '0' x ($mask_stride * 8 - length $bits);
    $mask .= pack('B*', $bits);
  }
  return $data . $mask;
}

sub write_file {
  my ($path, $bytes) = @_;
  open(my $fh, '>:raw', $path) or die "cannot write $path: $!\n";
  print $fh $bytes;
  close($fh) or die "cannot write $path: $!\n";
}

# One PNG: 8-bit RGBA, no filtering.
sub png_image {
  my ($size) = @_;
  my $raw = '';
  for my $row (@{render($size)}) {
    $raw .= "\0" . join('', map { pack('CCCC', @$_) } @$row);
  }
  my $chunk = sub {
    my ($type, $data) = @_;
    return pack('N', length $data) . $type . $data . pack('N', crc32($type . $data));
  };
  return "\x89PNG\r\n\x1a\n" . $chunk->('IHDR', pack('NNCCCCC', $size, $size, 8, 6, 0, 0, 0)) .
         $chunk->('IDAT', compress($raw, 9)) . $chunk->('IEND', '');
}

if (defined $png_dir) {
  write_file("$png_dir/adapter-$_.png", png_image($_)) for (16, 32, 48, 256);
  exit 0;
}

my @sizes = (16, 32);
my @images = map { icon_image($_) } @sizes;
my $offset = 6 + 16 * @sizes;
my $ico = pack('vvv', 0, 1, scalar @sizes);
for my $i (0 .. $#sizes) {
  $ico .= pack('CCCCvvVV', $sizes[$i], $sizes[$i], 0, 0, 1, 32, length $images[$i], $offset);
  $offset += length $images[$i];
}
$ico .= join('', @images);
write_file($out, $ico);
