// Redrawing the map from BoxColors: the legend (the swatch strip left as it
// is) and every painted box.
#pragma once

namespace vr {

// Both do nothing while BoxColors is the one-element placeholder left
// between commands. Unpainted boxes stay blank.
void NTFS_Repaint();
void Fat_RePaint();

// The main window's repaint of `picMap`: cleared, then the legend chosen by
// the file-system name ("FAT" or not) and the boxes.
void Map_Repaint();

}  // namespace vr
