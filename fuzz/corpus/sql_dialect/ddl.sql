CREATE UNIQUE NONCLUSTERED INDEX ix_t ON ostra.dbo.t381([id], name);
INSERT INTO velin..[log] VALUES (N'x''y', GETDATE(), {ts '2024-01-01 00:00:00'}, GETUTCDATE()) /* a /* nested */ comment */;
-- line comment
SELECT DISTINCT TOP (2) [name] FROM dbo.t WHERE d > {d '2024-01-01'} AND t < {t '12:00:00'};