include("common.ts");
Format = "A8R8G8B8";
MipLevels = 0;
Frames = array(
  "water01.dds",
  "water02.dds",
);
Speed = -1.5e1;
