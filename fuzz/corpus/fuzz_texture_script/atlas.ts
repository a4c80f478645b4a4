Width = 64; Height = 64; Format = "D3DFMT_A8R8G8B8";
Subs.one.FileName = "a.tga"; Subs.one.ParentSpace = 1;
Subs.two.FileName = "b.tga"; Subs.two.ParentSpace = 1; Subs.two.Delay = 50;
Subs.three.FileName = "d.tga"; Subs.three.ParentSpace = 1; Subs.three.Width = 5; Subs.three.Height = 3;
Subs.pin.FileName = "c.tga"; Subs.pin.x1 = 60; Subs.pin.y1 = 60; Subs.pin.w = 4; Subs.pin.h = 4;
Animation.run = array("one", "two", "two", "missing", "three");
Animation.idle = array("pin");
